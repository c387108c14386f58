#include "FileHandler/TDataRowWriter.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include "DataObject/TLabelList.h"

namespace kartlo {
namespace {

std::string Printf(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

std::string General(double value) {
  std::string text;
  TDataRowWriter::AppendGeneral(text, value);
  return text;
}

TEST(TDataRowWriter, GeneralNotationMatchesPrintfOnATable) {
  const double table[] = {
      0.0, -0.0, 1.0, -1.0, 3.0, 0.5, 1.0 / 3.0, -2.0 / 3.0, 0.1, 0.2, 0.3, 1e-5, 9.99999e-6,
      1e-4, 0.0001234567890123456, 123456789012345.0, 999999999999999.0,
      999999999999999.4, 999999999999999.5,  // rounds up to the next power of ten
      99999.99999999999, 0.000099999999999999995, 1e15, 1e16, 1.5e300, 2.5e-300,
      123456789012345.5,   // an exact tie: rounds to the even digit
      123456789012344.5,   // an exact tie the other way
      0.30000000000000004, 4.9e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::quiet_NaN(), 12345.678, 100.0, 1e14, 7e-5, 0.00001,
      std::nextafter(1e-5, 0.0), std::nextafter(1e15, 0.0)};
  for (double value : table) {
    SCOPED_TRACE(Printf(value));
    EXPECT_EQ(General(value), Printf(value));
  }
}

TEST(TDataRowWriter, GeneralNotationMatchesPrintfOnRandomValues) {
  // Random bit patterns over every magnitude, values of few digits as data files hold them,
  // and values one unit in the last place away from round decimals.
  std::mt19937_64 random(99);
  std::uniform_real_distribution<double> uniform(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-12, 16);
  for (int i = 0; i < 300000; ++i) {
    double value = 0.0;
    switch (i % 4) {
      case 0:
        value = std::bit_cast<double>(random());
        break;
      case 1:
        value = uniform(random) * std::pow(10.0, exponent(random));
        break;
      case 2:
        value = std::strtod(Printf(uniform(random)).c_str(), nullptr);
        break;
      default:
        value = std::nextafter(std::round(uniform(random) * 1e6) / 1e6, (i & 8) ? 1e300 : -1e300);
        break;
    }
    ASSERT_EQ(General(value), Printf(value)) << std::bit_cast<std::uint64_t>(value);
  }
}

TEST(TDataRowWriter, RowsInTheWritersLayout) {
  std::ostringstream out;
  TDataRowWriter writer(out);
  const double inputs[] = {0.5, 1.0, 2.0};
  const double outputs[] = {3.0, 4.0};
  TLabelList labels("A", 1.0);
  labels.Add("B", 2.0);
  writer.Values(inputs, 3);
  writer.Gap();
  writer.Values(outputs, 2);
  EXPECT_TRUE(writer.EndRow());
  writer.Values(inputs, 1);
  writer.Gap();
  writer.Labels(&labels);
  EXPECT_TRUE(writer.EndRow());
  writer.Labels(nullptr);
  EXPECT_TRUE(writer.EndRow());
  EXPECT_EQ(out.str(), "");  // gathered until Finish or a full chunk
  EXPECT_TRUE(writer.Finish());
  EXPECT_EQ(out.str(), "0.5 1 2   3 4 \n0.5   [A B=2.000000000 ] \n[] \n");
}

TEST(TDataRowWriter, ReportsAFailedStream) {
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  TDataRowWriter writer(out);
  const double value = 1.0;
  writer.Values(&value, 1);
  EXPECT_FALSE(writer.EndRow());
  EXPECT_FALSE(writer.Finish());
}

}  // namespace
}  // namespace kartlo
