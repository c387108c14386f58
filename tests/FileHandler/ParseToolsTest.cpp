#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/FileTools.h"

namespace kartlo {
namespace {

/// Short text of an item: "Start Name", "Start+ Name" (more), "Assign N=v",
/// "Assign+ N=v", "Token t", "End".
std::string Describe(const TagInfo& tag) {
  const std::string more = tag.more ? "+" : "";
  switch (tag.kind) {
    case EndOfBlock:
      return "End";
    case Token:
      return "Token " + tag.name;
    case StartTag:
      return "Start" + more + " " + tag.name;
    case Assignment:
      return "Assign" + more + " " + tag.name + "=" + tag.value;
    case FormatVersionTag:
      return "FormatVersion";
  }
  return "?";
}

/// Reads items as a file reader does, completing open brackets in continued
/// mode, until EndOfBlock. `blockdef` names the open block (null: top level).
/// Items read before an error stay in `items`.
void ReadItemsInto(FileTools& tools, std::istream& in, const char* blockdef,
                   std::vector<std::string>& items) {
  bool continued = false;
  for (int guard = 0; guard < 1000; ++guard) {
    const TagInfo tag = tools.ReadTag(in, blockdef, continued);
    items.push_back(Describe(tag));
    if (tag.kind == EndOfBlock) break;
    continued = tag.more;
  }
}

std::vector<std::string> ReadItems(FileTools& tools, std::istream& in, const char* blockdef) {
  std::vector<std::string> items;
  ReadItemsInto(tools, in, blockdef, items);
  return items;
}

/// The message of the FileTools::Error that reading all items raises, or "" if none.
std::string ReadError(const std::string& text, const char* blockdef) {
  FileTools tools;
  std::istringstream in(text);
  try {
    ReadItems(tools, in, blockdef);
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.input, &in);
    EXPECT_EQ(e.output, nullptr);
    return e.message;
  }
  return "";
}

std::vector<std::string> Tokens(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  std::vector<std::string> tokens;
  for (;;) {
    std::string t = tools.ReadToken(in);
    if (t.empty()) return tokens;
    tokens.push_back(t);
  }
}

TEST(ReadToken, SplitsWordsSpecialsAndComments) {
  struct Case {
    std::string text;
    std::vector<std::string> tokens;
  };
  const Case cases[] = {
      {"[Name=1]", {"[", "Name", "=", "1", "]"}},
      {"[~Layer]", {"[~", "Layer", "]"}},
      {"[ ~Layer]", {"[", "~Layer", "]"}},
      {"0.25 -1.5 T F -", {"0.25", "-1.5", "T", "F", "-"}},
      {"0.5 -0.25,1e3", {"0.5", "-0.25", "1e3"}},
      {"a,,b", {"a", "b"}},
      {"abc/*x*/def", {"abc", "def"}},
      {"*/", {"*", "/"}},
      {"<>=", {"<", ">", "="}},
      {"/", {"/"}},
      {"[", {"["}},
      {"x[", {"x", "["}},
      {"~.-+_:()!\"#$%&'?@\\^`{|}", {"~.-+_:()!\"#$%&'?@\\^`{|}"}},
      {"/* a /* nested */ still */ word", {"word"}},
      {"/* a /* b *//x", {"x"}},
      {"/**/x", {"x"}},
      {"/*/ x */y", {"y"}},
      {"/*/*/ x */ */z", {"z"}},
      {"//x", {"/", "/", "x"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {std::string("a\0b", 3), {"a", "b"}},
      {"a\x7F" "b\x80" "c\xFF" "d\xC3\xA9" "e", {"a", "b", "c", "d", "e"}},
      {"\t\v\f x\x01y\x1F", {"x", "y"}},
      {"", {}},
      {"   \n\t", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Tokens(c.text), c.tokens);
  }
}

TEST(ReadToken, SeparatorAfterWordIsConsumedSpecialIsNot) {
  FileTools tools;
  std::istringstream in("ab cd]");
  EXPECT_EQ(tools.ReadToken(in), "ab");
  EXPECT_EQ(in.peek(), 'c');
  EXPECT_EQ(tools.ReadToken(in), "cd");
  EXPECT_EQ(in.peek(), ']');
}

TEST(ReadToken, HoldsVeryLongTokensInFull) {
  const std::string word(100000, 'w');
  FileTools tools;
  std::istringstream in("[" + word + " = " + word + "x]");
  const TagInfo tag = tools.ReadTag(in, nullptr, false);
  EXPECT_EQ(tag.kind, Assignment);
  EXPECT_EQ(tag.name, word);
  EXPECT_EQ(tag.value, word + "x");
}

TEST(SkipComment, CountsNestingWithoutRecursion) {
  FileTools tools;
  std::string openers;
  for (int i = 0; i < 1000000; ++i) openers += "/*";
  {
    std::istringstream in(openers);
    try {
      tools.ReadToken(in);
      FAIL() << "no error";
    } catch (const FileTools::Error& e) {
      EXPECT_EQ(e.message, "Unexpected end of file during comment");
    }
  }
  // Every opener closed again: the whole text is one comment.
  std::string closed = openers;
  for (int i = 0; i < 1000000; ++i) closed += " */";
  closed += "[X]";
  std::istringstream in(closed);
  EXPECT_EQ(ReadItems(tools, in, nullptr), (std::vector<std::string>{"Start X", "End"}));
}

TEST(SkipComment, StopsAfterTheClosingSlash) {
  FileTools tools;
  std::istringstream in(" a /* b */ c */rest");
  tools.SkipComment(in);
  EXPECT_EQ(tools.ReadToken(in), "rest");
}

TEST(ReadTag, ItemsOfTheSyntax) {
  struct Case {
    std::string text;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"[NeuralNetwork]", {"Start NeuralNetwork", "End"}},
      {"[ Name ]", {"Start Name", "End"}},
      {"[Name,]", {"Start Name", "End"}},
      {"[NetworkType = Kohonen]", {"Assign NetworkType=Kohonen", "End"}},
      {"[Name=value]", {"Assign Name=value", "End"}},
      {"[Name = value ]", {"Assign Name=value", "End"}},
      {"[Dimension=0 Size=10 ]", {"Assign+ Dimension=0", "Assign Size=10", "End"}},
      {"[ALL Gain=1.0]", {"Start+ ALL", "Assign Gain=1.0", "End"}},
      {"[Matrix Weights TrainableInfo ]",
       {"Start+ Matrix", "Start+ Weights", "Start TrainableInfo", "End"}},
      {"0.5 -0.25,1e3", {"Token 0.5", "Token -0.25", "Token 1e3", "End"}},
      {"T F - = * / < >",
       {"Token T", "Token F", "Token -", "Token =", "Token *", "Token /", "Token <", "Token >",
        "End"}},
      {"[FormatVersion = 1.0][X]", {"Start X", "End"}},
      {"[formatversion=0.9] 1 [FORMATVERSION = 1] [FormatVersion = 1.0] 2",
       {"Token 1", "Token 2", "End"}},
      {"[FormatVersion = 1.0]", {"End"}},
      {"/* a /* b */ c */[X]", {"Start X", "End"}},
      {"/* a /* b *//[X]", {"Start X", "End"}},
      // Comments are not recognised between a name and "=": the continued
      // read then meets the "=".
      {"[Name /* c */ = 1]", {"Start+ Name", "Error Unexpected special character"}},
      {"[A=1]\r\n[B]\r\n", {"Assign A=1", "Start B", "End"}},
      {"[A\x80=\xFF" "1\x01]", {"Assign A=1", "End"}},
      {"[A = 1 B]", {"Assign+ A=1", "Start B", "End"}},
      {"[A B = 2]", {"Start+ A", "Assign B=2", "End"}},
      {"", {"End"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FileTools tools;
    std::istringstream in(c.text);
    std::vector<std::string> items;
    try {
      ReadItemsInto(tools, in, nullptr, items);
    } catch (const FileTools::Error& e) {
      items.push_back("Error " + e.message);
    }
    EXPECT_EQ(items, c.items);
  }
}

TEST(ReadTag, EndTagClosesTheBlockWithoutRegardToCase) {
  struct Case {
    std::string text;
    const char* blockdef;
  };
  const Case cases[] = {
      {"[~Layer]", "Layer"},
      {"[~Layer]", "LAYER"},
      {"[~LAYER]", "layer"},
      {"[ FormatVersion = 0.9 ] [~Layer ]", "Layer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FileTools tools;
    std::istringstream in(c.text + "rest");
    EXPECT_EQ(Describe(tools.ReadTag(in, c.blockdef, false)), "End");
    EXPECT_EQ(tools.ReadToken(in), "rest");
  }
}

TEST(ReadTag, BlocksNest) {
  FileTools tools;
  std::istringstream in("[Layer = 3] [Neurons] 1 2 [~Neurons] [~LAYER]");
  const TagInfo layer = tools.ReadTag(in, nullptr, false);
  ASSERT_EQ(Describe(layer), "Assign Layer=3");
  EXPECT_EQ(Describe(tools.ReadTag(in, layer.name.c_str(), false)), "Start Neurons");
  EXPECT_EQ(ReadItems(tools, in, "Neurons"),
            (std::vector<std::string>{"Token 1", "Token 2", "End"}));
  EXPECT_EQ(Describe(tools.ReadTag(in, layer.name.c_str(), false)), "End");
  EXPECT_EQ(Describe(tools.ReadTag(in, nullptr, false)), "End");
}

TEST(ReadTag, Failures) {
  struct Case {
    std::string text;
    const char* blockdef;
    const char* message;
  };
  const Case cases[] = {
      {"/* never closed", nullptr, "Unexpected end of file during comment"},
      {"[X] /* a /* b */", "X", "Unexpected end of file during comment"},
      {"1 2", "Block", "Unexpected end of file"},
      {"[Name = ", nullptr, "Unexpected end of file"},
      {"[", nullptr, "Unexpected end of file"},
      {"[Name", nullptr, "Unexpected end of file"},
      {"[Name  ", nullptr, "Unexpected end of file"},
      {"[Name = 1", nullptr, "Unexpected end of file"},
      {"[Name = 1 ", nullptr, "Unexpected end of file"},
      {"[A B", nullptr, "Unexpected end of file"},
      {"[A /* c */", nullptr, "Unexpected end of file"},
      {"[Dimension=0 Size=10", nullptr, "Unexpected end of file"},
      {"[= 3]", nullptr, "Unexpected special character"},
      {"[Name = ]", nullptr, "Unexpected special character"},
      {"[[", nullptr, "Unexpected special character"},
      {"[Name = [x]", nullptr, "Unexpected special character"},
      {"[A = 1 [B]", nullptr, "Unexpected special character"},
      {"[FormatVersion = 1.0 x]", nullptr, "Illegal Format of FormatVersion"},
      {"[FormatVersion = 1.0 Size=1]", nullptr, "Illegal Format of FormatVersion"},
      {"[FormatVersion = 1.1]", nullptr, "Illegal Format Version"},
      {"[FormatVersion = 2]", "X", "Illegal Format Version"},
      {"[FormatVersion = abc]", nullptr, "number-expected"},
      {"[~Neurons]", "Layer", "Unexpected End Tag"},
      {"[~]", "Layer", "Unexpected End Tag"},
      {"[~", "Layer", "Unexpected End Tag"},
      {"[~Layer x]", "Layer", "Expected ']'"},
      {"[~Layer", "Layer", "Expected ']'"},
      // Refused rather than read on: an end tag with no open block, a stray
      // "]" where an item is expected, and "]" after a comment in a bracket.
      {"[~Layer]", nullptr, "Unexpected End Tag"},
      {"[A] ]", nullptr, "Unexpected ']'"},
      {"]", "Block", "Unexpected ']'"},
      {"[A = 1 /* c */]", nullptr, "Unexpected special character"},
      {"[A /* c */]", nullptr, "Unexpected special character"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ReadError(c.text, c.blockdef), c.message);
  }
}

TEST(ReadTag, RepeatedFormatVersionHeadersAreReadInALoop) {
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "[FormatVersion=1]";
  text += "x";
  FileTools tools;
  std::istringstream in(text);
  EXPECT_EQ(ReadItems(tools, in, nullptr), (std::vector<std::string>{"Token x", "End"}));
}

TEST(ExpectTags, AcceptOrNameWhatWasExpected) {
  FileTools tools;
  std::istringstream in;
  const TagInfo start{StartTag, "NeuralNetwork", "", false};
  const TagInfo assign{Assignment, "NeuralNetwork", "1", false};
  const TagInfo end{EndOfBlock, "", "", false};
  EXPECT_EQ(tools.ExpectStartTag(start, in, "NEURALNETWORK"), "NeuralNetwork");
  EXPECT_EQ(tools.ExpectStartTag(start, in, nullptr), "NeuralNetwork");
  EXPECT_NO_THROW(tools.ExpectEndTag(end, in));

  struct Case {
    const TagInfo* tag;
    const char* name;  // "~" stands for ExpectEndTag
    const char* message;
  };
  const Case cases[] = {
      {&assign, "NEURALNETWORK", "[NEURALNETWORK] expected"},
      {&start, "Layer", "[Layer] expected"},
      {&end, "Data", "[Data] expected"},
      {&assign, nullptr, "start of block expected"},
      {&end, nullptr, "start of block expected"},
      {&start, "~", "End Tag expected"},
      {&assign, "~", "End Tag expected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      if (c.name != nullptr && std::strcmp(c.name, "~") == 0) {
        tools.ExpectEndTag(*c.tag, in);
      } else {
        tools.ExpectStartTag(*c.tag, in, c.name);
      }
      ADD_FAILURE() << "no error";
    } catch (const FileTools::Error& e) {
      EXPECT_EQ(e.message, c.message);
      EXPECT_EQ(e.input, &in);
    }
  }
}

TEST(ValueReaders, ConvertMatchingAssignments) {
  FileTools tools;
  std::istringstream in;
  const TagInfo type{Assignment, "NetworkType", "Kohonen", false};
  EXPECT_EQ(tools.ReadStringValue(type, in, "NETWORKTYPE", nullptr), "Kohonen");
  EXPECT_EQ(tools.ReadStringValue(type, in, "NETWORKTYPE", "kohonen"), "");
  EXPECT_EQ(tools.ReadIntegerValue({Assignment, "layer", "3", false}, in, "LAYER"), 3);
  EXPECT_EQ(tools.ReadNumberValue({Assignment, "Gain", "1.5", true}, in, "GAIN"), 1.5);
  EXPECT_EQ(tools.ReadNumberToken({Token, "-0.25", "", false}, in), -0.25);
}

TEST(ValueReaders, Failures) {
  enum Reader { kString, kInteger, kNumber, kToken };
  struct Case {
    Reader reader;
    TagInfo tag;
    const char* s;
    const char* allowed;
    const char* message;
  };
  const Case cases[] = {
      {kString, {Assignment, "NetworkType", "Kohonen", false}, "NETWORKTYPE", "Basic",
       "[NETWORKTYPE = Basic] expected"},
      {kString, {Assignment, "NumberOfLayers", "3", false}, "NETWORKTYPE", nullptr,
       "[NETWORKTYPE = <string>] expectedNumberOfLayers"},
      {kString, {StartTag, "Layer", "", false}, "NETWORKTYPE", nullptr,
       "[NETWORKTYPE = <string>] expectedLayer"},
      {kString, {Token, "0.5", "", false}, "NetworkType", "Kohonen",
       "[NetworkType = <string>] expected0.5"},
      {kString, {EndOfBlock, "", "", false}, "NETWORKTYPE", nullptr,
       "[NETWORKTYPE = <string>] expected"},
      {kInteger, {Assignment, "Size", "3", false}, "LAYER", nullptr,
       "[LAYER = <integer>] expected"},
      {kInteger, {StartTag, "Layer", "", false}, "LAYER", nullptr,
       "[LAYER = <integer>] expected"},
      {kInteger, {Assignment, "Layer", "x1", false}, "LAYER", nullptr, "integer-expected"},
      {kNumber, {Token, "1.0", "", false}, "Gain", nullptr, "[Gain = <number>] expected"},
      {kNumber, {Assignment, "Gain", "abc", false}, "GAIN", nullptr, "number-expected"},
      {kToken, {StartTag, "1.0", "", false}, nullptr, nullptr, "Token (number) expected"},
      {kToken, {Assignment, "1.0", "1.0", false}, nullptr, nullptr, "Token (number) expected"},
      {kToken, {Token, "T", "", false}, nullptr, nullptr, "number-expected"},
  };
  FileTools tools;
  std::istringstream in;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      switch (c.reader) {
        case kString:
          tools.ReadStringValue(c.tag, in, c.s, c.allowed);
          break;
        case kInteger:
          tools.ReadIntegerValue(c.tag, in, c.s);
          break;
        case kNumber:
          tools.ReadNumberValue(c.tag, in, c.s);
          break;
        case kToken:
          tools.ReadNumberToken(c.tag, in);
          break;
      }
      ADD_FAILURE() << "no error";
    } catch (const FileTools::Error& e) {
      EXPECT_EQ(e.message, c.message);
      EXPECT_EQ(e.input, &in);
    }
  }
}

TEST(ValueReaders, FoundNameOfAnyLengthIsKept) {
  FileTools tools;
  std::istringstream in;
  const std::string name(5000, 'n');
  try {
    tools.ReadStringValue({StartTag, name, "", false}, in, "NETWORKTYPE", nullptr);
    FAIL() << "no error";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "[NETWORKTYPE = <string>] expected" + name);
  }
}

/// Texts on which the conversions must agree with the C library.
const char* const kNumberTexts[] = {
    "0", "7", "-7", "+7", "  42", "\t\n\v\f\r 42", "-0", "+0", "00012", "12abc", "3.7", "x1",
    "", " ", "-", "+", "- 5", "+-5", "--5", ".", ".5", "-.5", "+.5", "5.", "-5.", "1e-3",
    "1E3", "1e+3", "1.5e-7", "-2.5E+10", "1e", "1e+", "1e-x", "1.5e+x", "e5", "0.5x",
    "0.250000000000000", "-0.123456789012345", "123456789012345678901234567890",
    "0.1", "0.2", "0.3", "2.2250738585072014e-308", "4e-320", "1e-400", "1e999", "-1e999",
    "3.4028235e38", "1e39", "0x1p3", "0x", "0x10", "0X1.8P1", "0x.p1", "inf", "-inf",
    "INF", "infinity", "nan", "-nan", "NaN(123)", "nanx", "abc",
    "9223372036854775807", "9223372036854775808", "-9223372036854775808",
    "-9223372036854775809", "99999999999999999999", "-99999999999999999999",
    "1,5", "1 5", "0.000000000000001", "179769313486231570000000000000000000000000000000000000"
    "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
    "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
    "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
    "00000000000000000000000000000000000.0",
};

TEST(ParseInteger, AgreesWithScanLd) {
  FileTools tools;
  std::istringstream in;
  for (const char* text : kNumberTexts) {
    SCOPED_TRACE(text);
    long expected = 0;
    const bool accepted = std::sscanf(text, "%ld", &expected) == 1;
    try {
      const long value = tools.ParseInteger(in, text);
      EXPECT_TRUE(accepted);
      EXPECT_EQ(value, expected);
    } catch (const FileTools::Error& e) {
      EXPECT_FALSE(accepted);
      EXPECT_EQ(e.message, "integer-expected");
      EXPECT_EQ(e.input, &in);
    }
  }
  EXPECT_EQ(tools.ParseInteger(in, "-7"), -7);
  EXPECT_EQ(tools.ParseInteger(in, "+7"), 7);
  EXPECT_EQ(tools.ParseInteger(in, "  42"), 42);
  EXPECT_EQ(tools.ParseInteger(in, "12abc"), 12);
  EXPECT_EQ(tools.ParseInteger(in, "3.7"), 3);
  EXPECT_EQ(tools.ParseInteger(in, "99999999999999999999"), LONG_MAX);
  EXPECT_EQ(tools.ParseInteger(in, "-99999999999999999999"), LONG_MIN);
}

bool SameDouble(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(ParseNumber, AgreesWithScanFAndStrtod) {
  FileTools tools;
  std::istringstream in;
  for (const char* text : kNumberTexts) {
    SCOPED_TRACE(text);
    float scratch = 0.0F;
    const bool accepted = std::sscanf(text, "%f", &scratch) == 1;
    const double expected = std::strtod(text, nullptr);
    try {
      const double value = tools.ParseNumber(in, text);
      EXPECT_TRUE(accepted);
      EXPECT_TRUE(SameDouble(value, expected)) << value << " vs " << expected;
    } catch (const FileTools::Error& e) {
      EXPECT_FALSE(accepted);
      EXPECT_EQ(e.message, "number-expected");
      EXPECT_EQ(e.input, &in);
    }
  }
  EXPECT_EQ(tools.ParseNumber(in, "1e-3"), 0.001);
  EXPECT_EQ(tools.ParseNumber(in, ".5"), 0.5);
  EXPECT_EQ(tools.ParseNumber(in, "0.5x"), 0.5);
  // The double conversion, not the single-precision scan, gives the value.
  EXPECT_EQ(tools.ParseNumber(in, "0.1"), 0.1);
  EXPECT_NE(tools.ParseNumber(in, "0.1"), static_cast<double>(0.1F));
}

TEST(ParseNumber, AgreesOnGeneratedDecimalTexts) {
  // Many ordinary texts, as the writers produce them, take the fast path.
  FileTools tools;
  std::istringstream in;
  std::mt19937_64 random(12345);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  char text[64];
  for (int i = 0; i < 20000; ++i) {
    const double magnitude = std::pow(10.0, static_cast<int>(random() % 40) - 20);
    const double v = uniform(random) * magnitude;
    const char* format = (i % 3 == 0) ? "%.15g" : (i % 3 == 1) ? "%.15f" : "%.17e";
    std::snprintf(text, sizeof text, format, v);
    ASSERT_TRUE(SameDouble(tools.ParseNumber(in, text), std::strtod(text, nullptr))) << text;
  }
}

TEST(Writers, ExactLayout) {
  struct Case {
    const char* what;
    void (*write)(FileTools&, std::ostream&);
    const char* text;
  };
  const Case cases[] = {
      {"integer bracket", [](FileTools& t, std::ostream& o) { t.WriteIntegerValue(o, "Layer", 2, true); },
       "[Layer = 2]\n"},
      {"integer inline", [](FileTools& t, std::ostream& o) { t.WriteIntegerValue(o, "Layer", 2, false); },
       "Layer=2 "},
      {"negative integer", [](FileTools& t, std::ostream& o) { t.WriteIntegerValue(o, "N", LONG_MIN, true); },
       "[N = -9223372036854775808]\n"},
      {"number inline", [](FileTools& t, std::ostream& o) { t.WriteNumberValue(o, "Gain", 1.0, 15, false); },
       "Gain=1.000000000000000 "},
      {"number bracket", [](FileTools& t, std::ostream& o) { t.WriteNumberValue(o, "W", 0.25, 15, true); },
       "[W = 0.250000000000000]\n"},
      {"long number", [](FileTools& t, std::ostream& o) { t.WriteNumberValue(o, "W", 1000.0, 15, true); },
       "[W = 1000.000000000000000]\n"},
      {"long negative", [](FileTools& t, std::ostream& o) { t.WriteNumberValue(o, "W", -100.0, 15, true); },
       "[W = -100.000000000000000]\n"},
      {"huge number", [](FileTools& t, std::ostream& o) { t.WriteNumberValue(o, "W", 1e20, 15, false); },
       "W=100000000000000000000.000000000000000 "},
      {"zero digits", [](FileTools& t, std::ostream& o) { t.WriteNumberValue(o, "W", 2.5, 0, false); },
       "W=2 "},
      {"string bracket", [](FileTools& t, std::ostream& o) { t.WriteStringValue(o, "NetworkType", "Kohonen", true); },
       "[NetworkType = Kohonen]\n"},
      {"string inline", [](FileTools& t, std::ostream& o) { t.WriteStringValue(o, "ActivationFunction", "sigmoid", false); },
       "ActivationFunction=sigmoid "},
      {"start bracket", [](FileTools& t, std::ostream& o) { t.WriteStartTag(o, "NeuralNetwork", true); },
       "[NeuralNetwork]\n"},
      {"start inline", [](FileTools& t, std::ostream& o) { t.WriteStartTag(o, "All", false); },
       "All "},
      {"end tag", [](FileTools& t, std::ostream& o) { t.WriteEndTag(o, "Layer"); }, "[~Layer]\n"},
      {"null end tag", [](FileTools& t, std::ostream& o) { t.WriteEndTag(o, nullptr); }, ""},
      {"token", [](FileTools& t, std::ostream& o) { t.WriteTag({Token, "0.5", "", false}, o, true); },
       "0.5 "},
      {"token inline", [](FileTools& t, std::ostream& o) { t.WriteTag({Token, "T", "", false}, o, false); },
       "T "},
      {"open/close", [](FileTools& t, std::ostream& o) {
         t.WriteOpenBracket(o, true);
         t.WriteStartTag(o, "All", false);
         t.WriteStringValue(o, "ActivationFunction", "sigmoid", false);
         t.WriteCloseBracket(o, true, true);
       }, "[All ActivationFunction=sigmoid ]\n"},
      {"close without newline", [](FileTools& t, std::ostream& o) { t.WriteCloseBracket(o, true, false); }, "]"},
      {"brackets off", [](FileTools& t, std::ostream& o) {
         t.WriteOpenBracket(o, false);
         t.WriteCloseBracket(o, false, true);
       }, ""},
      {"header", [](FileTools& t, std::ostream& o) {
         t.WriteFormatVersion(o);
         t.WriteStartTag(o, "NeuralNetwork", true);
       }, "[FormatVersion = 1.0]\n\n[NeuralNetwork]\n"},
      {"new line", [](FileTools& t, std::ostream& o) { t.WriteNewLine(o); }, "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FileTools tools;
    std::ostringstream out;
    c.write(tools, out);
    EXPECT_EQ(out.str(), c.text);
  }
}

TEST(Writers, ProgrammingErrorsAbort) {
  FileTools tools;
  std::ostringstream out;
  EXPECT_DEATH(tools.WriteTag({FormatVersionTag, "", "", false}, out, false), "bracket");
  EXPECT_DEATH(tools.WriteTag({EndOfBlock, "Layer", "", false}, out, false), "bracket");
  EXPECT_DEATH(tools.WriteTag({static_cast<TagKind>(4), "x", "", false}, out, true),
               "known tag kind");
}

TEST(Writers, WrittenTextReadsBackAsTheSameItems) {
  FileTools tools;
  std::ostringstream out;
  tools.WriteFormatVersion(out);
  tools.WriteStartTag(out, "NeuralNetwork", true);
  tools.WriteStringValue(out, "NetworkType", "Kohonen", true);
  tools.WriteIntegerValue(out, "Layer", -3, true);
  tools.WriteOpenBracket(out, true);
  tools.WriteIntegerValue(out, "Dimension", 0, false);
  tools.WriteIntegerValue(out, "Size", 10, false);
  tools.WriteCloseBracket(out, true, true);
  tools.WriteOpenBracket(out, true);
  tools.WriteStartTag(out, "All", false);
  tools.WriteNumberValue(out, "Gain", 1234.5, 15, false);
  tools.WriteCloseBracket(out, true, true);
  tools.WriteNumberValue(out, "Bias", -0.125, 15, true);
  tools.WriteTag({Token, "0.5", "", false}, out, false);
  tools.WriteTag({Token, "T", "", false}, out, false);
  tools.WriteNewLine(out);
  tools.WriteEndTag(out, "NeuralNetwork");

  std::istringstream in(out.str());
  const TagInfo first = tools.ReadTag(in, nullptr, false);
  EXPECT_EQ(Describe(first), "Start NeuralNetwork");
  EXPECT_EQ(ReadItems(tools, in, "NEURALNETWORK"),
            (std::vector<std::string>{
                "Assign NetworkType=Kohonen", "Assign Layer=-3", "Assign+ Dimension=0",
                "Assign Size=10", "Start+ All", "Assign Gain=1234.500000000000000",
                "Assign Bias=-0.125000000000000", "Token 0.5", "Token T", "End"}));
  EXPECT_EQ(Describe(tools.ReadTag(in, nullptr, false)), "End");
  EXPECT_EQ(tools.ParseNumber(in, "-0.125000000000000"), -0.125);
}

/// Reads `text` as nested blocks (every StartTag closed by "]" opens one)
/// until the end or an error; true when it ended cleanly.
bool ReadAsBlocks(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  std::vector<std::string> open;
  bool continued = false;
  try {
    for (;;) {
      const TagInfo tag =
          tools.ReadTag(in, open.empty() ? nullptr : open.back().c_str(), continued);
      if (tag.kind == EndOfBlock) {
        if (open.empty()) return true;
        open.pop_back();
        continue;
      }
      if (tag.kind == Token) tools.ParseNumber(in, tag.name.c_str());
      if (tag.kind == Assignment) tools.ParseInteger(in, tag.value.c_str());
      if (tag.kind == StartTag && !tag.more && !continued) open.push_back(tag.name);
      continued = tag.more;
    }
  } catch (const FileTools::Error& e) {
    EXPECT_FALSE(e.message.empty());
    EXPECT_EQ(e.input, &in);
    return false;
  }
}

TEST(HostileInput, EndsWithAnErrorOrACleanResult) {
  std::mt19937 random(20240611);
  const std::string alphabet = "[]/*=<>~ab1.-e, \n\r\t";
  for (int round = 0; round < 200; ++round) {
    std::string text;
    const bool raw = round % 2 == 0;
    for (int i = 0; i < 4096; ++i) {
      text += raw ? static_cast<char>(random() & 0xFF) : alphabet[random() % alphabet.size()];
    }
    ReadAsBlocks(text);
  }
  EXPECT_TRUE(ReadAsBlocks("[A] [B] 1 2.5e3 [C=3] [~b] [~A] [FormatVersion=1]"));
  EXPECT_FALSE(ReadAsBlocks("[A] [B] [~A]"));
}

TEST(HostileInput, ReadingAFailedStreamIsTheEndOfInput) {
  FileTools tools;
  std::istringstream in("[X]");
  in.setstate(std::ios_base::failbit);
  EXPECT_EQ(tools.ReadToken(in), "");
  EXPECT_EQ(Describe(tools.ReadTag(in, nullptr, false)), "End");
}

}  // namespace
}  // namespace kartlo
