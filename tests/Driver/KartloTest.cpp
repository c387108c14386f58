#include "Driver/Kartlo.h"

#include <gtest/gtest.h>

#include <new>
#include <sstream>
#include <stdexcept>
#include <string>

#include "FileHandler/FileTools.h"
#include "KQmessage/TException.h"

namespace kartlo {
namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome Handle(const std::function<int()>& road) {
  std::ostringstream out, err;
  const int status = RunHandled(road, out, err);
  return {status, out.str(), err.str()};
}

TEST(Handler, ReportsEachFailureOnItsStream) {
  struct Case {
    const char* name;
    std::function<int()> road;
    Outcome expected;
  };
  const Case cases[] = {
      {"success", [] { return 0; }, {0, "", ""}},
      {"TException",
       []() -> int { throw TException("Invalid Data Row", "Bad Parameter", "Data::GetInputDatum"); },
       {1, "", "Invalid Data Row\nBad Parameter\nData::GetInputDatum\n"}},
      {"TException without category or origin",
       []() -> int { throw TException("Broken"); },
       {1, "", "Broken\n\n\n"}},
      {"FileTools::Error",
       []() -> int { throw FileTools::Error{"Unexpected End Tag", nullptr, nullptr}; },
       {1, "Unexpected End Tag\n", ""}},
      {"bad_alloc", []() -> int { throw std::bad_alloc(); }, {1, "", "Kartlo: out of memory\n"}},
      {"other std::exception", []() -> int { throw std::runtime_error("disk on fire"); },
       {1, "", "Kartlo: disk on fire\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome got = Handle(c.road);
    EXPECT_EQ(got.status, c.expected.status);
    EXPECT_EQ(got.out, c.expected.out);
    EXPECT_EQ(got.err, c.expected.err);
  }
}

TEST(Handler, TExceptionTextsSurviveUnwinding) {
  // The texts are owned by the exception object, not by the frame that threw it.
  const Outcome got = Handle([]() -> int {
    std::string row = "Invalid Data Row";
    throw TException(row.c_str(), "Bad Parameter", "Data::GetInputDatum");
  });
  EXPECT_EQ(got.err, "Invalid Data Row\nBad Parameter\nData::GetInputDatum\n");
}

TEST(CommandLine, WrongArgumentCountPrintsUsage) {
  for (int argc : {1, 3, 5}) {
    SCOPED_TRACE(argc);
    const char* argv[] = {"Kartlo", "/nonexistent/a", "/nonexistent/b", "/nonexistent/c",
                          "/nonexistent/d"};
    std::ostringstream out, err;
    EXPECT_EQ(RunKartlo(argc, argv, out, err), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "Usage: Kartlo WeightFile LabelFile CoordinateFile\n");
  }
}

}  // namespace
}  // namespace kartlo
