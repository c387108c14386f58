#include "KQmessage/StrCaseCmp.h"

#include <gtest/gtest.h>

namespace kartlo {
namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(StrCaseCmp, ComparesUpperCasedBytes) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {
      {"NeuralNetwork", "NEURALNETWORK", 0},
      {"sigmoid", "SIGMOID", 0},
      {"", "", 0},
      {"a", "", 1},
      {"", "a", -1},
      {"abc", "abd", -1},
      {"ABD", "abc", 1},
      // "_" (0x5F) lies between the upper-case (0x41-0x5A) and lower-case
      // letters: after upper-casing, "a" (0x41) sorts before it.
      {"a", "_", -1},
      // Bytes above 0x7F compare as unsigned, so they sort after ASCII.
      {"\xC3\xA9", "z", 1},
      {"z", "\xFF", -1},
      {"\x80", "\x7F", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(Sign(strcasecmp(c.a, c.b)), c.sign);
  }
}

}  // namespace
}  // namespace kartlo
