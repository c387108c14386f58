#include "KQmessage/KQML.h"

#include <gtest/gtest.h>

#include <string>

namespace kartlo {
namespace {

std::unique_ptr<TKQstructure> ParseText(const std::string& text) {
  const char* cursor = text.c_str();
  return TKQstructure::FromText(cursor);
}

/// The error structure thrown by `action`, as text; "no error" when nothing was thrown.
template <typename Action>
std::string ThrownText(Action action) {
  try {
    action();
  } catch (const TKQstructure::Error& e) {
    return e.message ? e.message->ToText() : "null message";
  }
  return "no error";
}

std::string Keys(const TKQstructure& s) {
  std::string keys;
  for (const auto& [key, value] : s.entries) keys += key + ";";
  return keys;
}

TEST(KQML, ParsesAndPrintsBack) {
  struct Case {
    const char* text;
    const char* printed;
  };
  const Case cases[] = {
      {"(error :type invalid-message :expected rows)", "(error :type invalid-message :expected rows)"},
      {"word", "word"},
      {"(word)", "word"},
      {"(a :b (c :d e) :f g)", "(a :b (c :d e) :f g)"},
      {"(error   :type x)", "(error :type x)"},
      {"\t(a\n:b\r\nc )  \x7F\xFF", "(a :b c)"},
      {"(a :x 1 :X 2)", "(a :x 2)"},
      {"(a :k:v w)", "(a :k:v w)"},
      {"(a :k v,w)", "(a :k v,w)"},
      {"(a:b :c d)", "(a:b :c d)"},
      {"(a : b c)", "(a :b c)"},  // ":" is a token of its own
      {"(a :b c)(", "(a :b c)"},  // Parse alone stops after the first value
      {"(a :b (c) :d (e :f (g)))", "(a :b c :d (e :f g))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const char* cursor = c.text;
    auto parsed = TKQstructure::Parse(cursor);
    EXPECT_EQ(parsed->ToText(), c.printed);
    testing::internal::CaptureStdout();
    parsed->PrintLine();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(c.printed) + "\n");
  }
}

TEST(KQML, ParsedStructureHasHeadsAndAtoms) {
  auto s = ParseText("(error :type invalid-message :expected rows)");
  EXPECT_STREQ(s->GetHead(), "error");
  ASSERT_EQ(s->count, 2);
  EXPECT_EQ(Keys(*s), "type;expected;");
  EXPECT_TRUE(s->Get("type")->IsAtom());
  EXPECT_STREQ(s->Get("TYPE")->GetHead(), "invalid-message");
  EXPECT_STREQ(s->Get("Expected")->GetHead(), "rows");

  auto nested = ParseText("(a :b (c :d e) :f g)");
  const TKQstructure* b = nested->Get("b");
  EXPECT_FALSE(b->IsAtom());
  EXPECT_STREQ(b->GetHead(), "c");
  EXPECT_STREQ(b->Get("d")->GetHead(), "e");

  auto replaced = ParseText("(a :x 1 :X 2)");
  EXPECT_EQ(replaced->count, 1);
  EXPECT_EQ(Keys(*replaced), "x;");
  EXPECT_STREQ(replaced->Get("x")->GetHead(), "2");
}

TEST(KQML, ParseAdvancesCursorPastOneValue) {
  const char* text = "(a :b c) next";
  const char* cursor = text;
  auto s = TKQstructure::Parse(cursor);
  EXPECT_STREQ(cursor, " next");
  auto word = TKQstructure::Parse(cursor);
  EXPECT_STREQ(word->GetHead(), "next");
  EXPECT_STREQ(cursor, "");
}

TEST(KQML, PrintWritesNoLineEnd) {
  auto s = ParseText("(a :b c)");
  testing::internal::CaptureStdout();
  s->Print();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "(a :b c)");
}

TEST(KQML, MalformedTextThrows) {
  struct Case {
    const char* text;
    const char* error;
    bool printsMessage;  // "special character unexpected" on standard error
  };
  const Case cases[] = {
      {"", "(error :type invalid-message :reason end-of-text)", true},
      {"   ", "(error :type invalid-message :reason end-of-text)", true},
      {")", "(error :type invalid-message :reason special-character-unexpected)", true},
      {":a", "(error :type invalid-message :reason special-character-unexpected)", true},
      {"((a))", "(error :type invalid-message :reason special-character-unexpected)", true},
      {"()", "(error :type invalid-message :reason special-character-unexpected)", true},
      {"(:a b)", "(error :type invalid-message :reason special-character-unexpected)", true},
      {"(", "(error :type invalid-message :reason end-of-text)", true},
      {"(a :", "(error :type invalid-message :reason end-of-text)", true},
      {"(a :b", "(error :type invalid-message :reason end-of-text)", true},
      {"(a :b)", "(error :type invalid-message :reason special-character-unexpected)", true},
      {"(a :(b) c)", "(error :type invalid-message :reason special-character-unexpected)", true},
      {"(a :b :c)", "(error :type invalid-message :reason special-character-unexpected)", true},
      {"(a b)", "(error :type invalid-message :reason keyword-expected)", false},
      {"(a :b c d)", "(error :type invalid-message :reason keyword-expected)", false},
      {"(a (b))", "(error :type invalid-message :reason keyword-expected)", false},
      {"(a :b c", "(error :type invalid-message :reason unterminated-list)", false},
      {"(a :b (c :d e)", "(error :type invalid-message :reason unterminated-list)", false},
      {"(a :b c) d", "(error :type invalid-message :reason text-after-message)", false},
      {"a b", "(error :type invalid-message :reason text-after-message)", false},
      {"(a :b c))", "(error :type invalid-message :reason text-after-message)", false},
      {"a (", "(error :type invalid-message :reason text-after-message)", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    testing::internal::CaptureStderr();
    const std::string error = ThrownText([&] { ParseText(c.text); });
    const std::string stderrText = testing::internal::GetCapturedStderr();
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(stderrText, c.printsMessage ? "special character unexpected\n" : "");
  }
}

TEST(KQML, MalformedTextNeverReadsPastItsEnd) {
  // The text is exactly the bytes of the buffer with no room after it, so a read
  // past the terminating zero is reported by the address sanitizer.
  for (const char* text : {"(", "(a", "(a :", "(a :b", "(a :b c", "a:", "(a :b (c :d"}) {
    SCOPED_TRACE(text);
    const std::string copy(text);
    auto buffer = std::make_unique<char[]>(copy.size() + 1);
    std::copy(copy.c_str(), copy.c_str() + copy.size() + 1, buffer.get());
    const char* cursor = buffer.get();
    testing::internal::CaptureStderr();
    try {
      TKQstructure::FromText(cursor);
    } catch (const TKQstructure::Error&) {
    }
    testing::internal::GetCapturedStderr();
    EXPECT_LE(cursor, buffer.get() + copy.size());
  }
}

TEST(KQML, DeepNestingIsBounded) {
  auto nested = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "(a :b ";
    text += "c";
    text += std::string(static_cast<size_t>(depth), ')');
    return text;
  };
  auto deepest = ParseText(nested(TKQstructure::kMaxParseDepth));
  const TKQstructure* s = deepest.get();
  int depth = 0;
  while (!s->IsAtom()) {
    s = s->Get("b");
    ++depth;
  }
  EXPECT_EQ(depth, TKQstructure::kMaxParseDepth);
  EXPECT_STREQ(s->GetHead(), "c");

  EXPECT_EQ(ThrownText([&] { ParseText(nested(TKQstructure::kMaxParseDepth + 1)); }),
            "(error :type invalid-message :reason nesting-too-deep)");
  // Far deeper than any stack would allow without the bound.
  EXPECT_EQ(ThrownText([&] { ParseText(nested(1000000)); }),
            "(error :type invalid-message :reason nesting-too-deep)");
}

TEST(KQML, SetterTexts) {
  TKQstructure s("data");
  s.SetNumber("rate", 0.5);
  s.SetBoolean("on", true);
  s.SetBoolean("off", false);
  s.SetInteger("n", -3);
  s.SetInteger("big", 9223372036854775807L);
  s.SetNumber("tiny", 1e-7);
  s.SetNumber("neg", -2.25);
  s.SetString("name", "x y");
  EXPECT_EQ(s.ToText(),
            "(data :rate 0.500000 :on true :off false :n -3 :big 9223372036854775807 "
            ":tiny 0.000000 :neg -2.250000 :name x y)");
  s.SetNumber("huge", 1e300);
  EXPECT_EQ(std::string(s.Get("huge")->GetHead()).size(), 301u + 7u);
}

TEST(KQML, SetValueReplacesWithoutRegardToCase) {
  TKQstructure s("a");
  s.SetString("Key", "1");
  s.SetString("other", "2");
  s.SetString("KEY", "3");
  EXPECT_EQ(s.ToText(), "(a :Key 3 :other 2)");
  EXPECT_EQ(s.count, 2);
}

TEST(KQML, GrowsPastSixteenPairsKeepingOrder) {
  TKQstructure s;
  EXPECT_STREQ(s.GetHead(), "unknown");
  EXPECT_EQ(s.capacity, 16);
  std::string expected = "(unknown";
  for (int i = 0; i < 33; ++i) {
    const std::string key = "k" + std::to_string(i);
    s.SetString(key.c_str(), std::to_string(i).c_str());
    expected += " :" + key + " " + std::to_string(i);
    const int expectedCapacity = i < 16 ? 16 : i < 32 ? 32 : 64;
    EXPECT_EQ(s.capacity, expectedCapacity);
  }
  expected += ")";
  EXPECT_EQ(s.count, 33);
  EXPECT_EQ(s.ToText(), expected);
  EXPECT_STREQ(s.Get("K0")->GetHead(), "0");
  EXPECT_STREQ(s.Get("k32")->GetHead(), "32");
}

TEST(KQML, CopyHoldsItsOwnPairsAndGrowsFromItsCount) {
  auto original = ParseText("(a :b (c :d e) :f g)");
  TKQstructure copy(*original);
  EXPECT_EQ(copy.capacity, 2);
  EXPECT_EQ(copy.ToText(), "(a :b (c :d e) :f g)");
  copy.Get("b")->SetString("d", "changed");
  copy.SetString("h", "i");
  EXPECT_EQ(copy.capacity, 16);
  EXPECT_EQ(copy.ToText(), "(a :b (c :d changed) :f g :h i)");
  EXPECT_EQ(original->ToText(), "(a :b (c :d e) :f g)");

  TKQstructure empty(*ParseText("atom"));
  EXPECT_EQ(empty.capacity, 0);
  empty.SetString("x", "y");
  EXPECT_EQ(empty.capacity, 16);

  TKQstructure assigned("z");
  assigned.SetString("old", "1");
  assigned = *original;
  EXPECT_EQ(assigned.ToText(), "(a :b (c :d e) :f g)");
  const TKQstructure& self = assigned;
  assigned = self;
  EXPECT_EQ(assigned.ToText(), "(a :b (c :d e) :f g)");
}

TEST(KQML, RemoveMovesLastPairIntoTheGap) {
  struct Case {
    const char* key;
    const char* printed;
  };
  const Case cases[] = {
      {"first", "(a :third 3 :second 2)"},
      {"SECOND", "(a :first 1 :third 3)"},
      {"third", "(a :first 1 :second 2)"},
      {"absent", "(a :first 1 :second 2 :third 3)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    auto s = ParseText("(a :first 1 :second 2 :third 3)");
    s->Remove(c.key);
    EXPECT_EQ(s->ToText(), c.printed);
    EXPECT_EQ(s->count, static_cast<int>(s->entries.size()));
  }
  auto s = ParseText("(a :only 1)");
  s->Remove("only");
  EXPECT_TRUE(s->IsAtom());
  EXPECT_EQ(s->ToText(), "a");
  EXPECT_EQ(s->Find("only"), nullptr);
}

TEST(KQML, LookupsAndRequirements) {
  auto s = ParseText("(msg :type data :count 3)");
  EXPECT_EQ(s->Find("missing"), nullptr);
  EXPECT_STREQ(s->Find("Count")->GetHead(), "3");
  EXPECT_STREQ(s->GetRequired("TYPE")->GetHead(), "data");
  EXPECT_EQ(ThrownText([&] { s->GetRequired("rows"); }),
            "(error :type invalid-message :expected rows)");

  struct Case {
    const char* key;
    const char* value;
    const char* error;
  };
  const Case cases[] = {
      {"type", "", "no error"},
      {"type", "DATA", "no error"},
      {"Type", "data", "no error"},
      {"type", "net", "(error :type invalid-message :tag type :expected-value net)"},
      {"rows", "", "(error :type invalid-message :expected rows)"},
      {"rows", "5", "(error :type invalid-message :expected rows)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    EXPECT_EQ(ThrownText([&] { s->Require(c.key, c.value); }), c.error);
  }
}

TEST(KQML, ErrorCopiesOwnTheirStructure) {
  TKQstructure::Error first(TKQstructure::MakeError("x"));
  TKQstructure::Error copy(first);
  first.message->SetString("more", "1");
  EXPECT_EQ(copy.message->ToText(), "(error :type x)");
  copy = first;
  EXPECT_EQ(copy.message->ToText(), "(error :type x :more 1)");
}

TEST(KQMLDeathTest, ProgrammingErrorsAssert) {
  TKQstructure s("a");
  EXPECT_DEATH(s.SetValue("k", nullptr), "Assertion failed: newval != NULL");
  EXPECT_DEATH(s.Get("k"), "Assertion failed: 0,");
  EXPECT_DEATH(KQAsLong("x"), "Assertion failed: err == 1");
  EXPECT_DEATH(KQAsDouble(""), "Assertion failed: err == 1");
}

TEST(KQML, BooleanConversion) {
  struct Case {
    const char* text;
    const char* result;
  };
  const Case cases[] = {
      {"True", "true"},   {"TRUE", "true"},
      {"false", "false"}, {"fAlSe", "false"},
      {"yes", "(error :type type-error :expected boolean)"},
      {"", "(error :type type-error :expected boolean)"},
      {"true ", "(error :type type-error :expected boolean)"},
      {"1", "(error :type type-error :expected boolean)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string result;
    const std::string error = ThrownText([&] { result = KQToBoolean(c.text) ? "true" : "false"; });
    EXPECT_EQ(error == "no error" ? result : error, c.result);
  }
}

TEST(KQML, IntegerConversion) {
  struct Case {
    const char* text;
    long value;
    const char* error;
  };
  const Case cases[] = {
      {"12", 12, nullptr},
      {"12x", 12, nullptr},
      {"  -7", -7, nullptr},
      {"+5", 5, nullptr},
      {"3.9", 3, nullptr},
      {"0x10", 0, nullptr},
      {"-9223372036854775808", -9223372036854775807L - 1, nullptr},
      {"x", 0, "(error :type invalid-message :integer-expected x)"},
      {"-", 0, "(error :type invalid-message :integer-expected -)"},
      {"", 0, "(error :type invalid-message :integer-expected )"},
      {".5", 0, "(error :type invalid-message :integer-expected .5)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    long value = 0;
    EXPECT_EQ(ThrownText([&] { value = KQToInteger(c.text); }), c.error ? c.error : "no error");
    if (c.error == nullptr) {
      EXPECT_EQ(value, c.value);
      EXPECT_EQ(KQAsLong(c.text), c.value);
    }
  }
}

TEST(KQML, NumberConversion) {
  struct Case {
    const char* text;
    double value;
    const char* error;
  };
  const Case cases[] = {
      {"0.5", 0.5, nullptr},
      {"-1e3", -1000.0, nullptr},
      {"12", 12.0, nullptr},
      {"  .25abc", 0.25, nullptr},
      {"1.5.2", 1.5, nullptr},
      {"abc", 0.0, "(error :type invalid-message :number-expected abc)"},
      {"", 0.0, "(error :type invalid-message :number-expected )"},
      {"e5", 0.0, "(error :type invalid-message :number-expected e5)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    double value = 0.0;
    EXPECT_EQ(ThrownText([&] { value = KQToNumber(c.text); }), c.error ? c.error : "no error");
    if (c.error == nullptr) {
      EXPECT_EQ(value, c.value);
      EXPECT_EQ(KQAsDouble(c.text), c.value);
    }
  }
}

TEST(KQML, JoinArguments) {
  const char* const args[] = {"prog", "(a", ":b c)"};
  EXPECT_EQ(KQJoinArguments(3, args), "(a :b c) ");
  EXPECT_EQ(KQJoinArguments(1, args), "");
  EXPECT_EQ(KQJoinArguments(0, args), "");
  EXPECT_EQ(KQJoinArguments(-1, args), "");
  const std::string joined = KQJoinArguments(3, args);
  EXPECT_EQ(ParseText(joined)->ToText(), "(a :b c)");
}

}  // namespace
}  // namespace kartlo
