#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "DataObject/TLabelList.h"

namespace kartlo {
namespace {

struct Entry {
  std::string text;
  double value;
};

void ExpectEntries(const TLabelList& list, const std::vector<Entry>& expected) {
  ASSERT_EQ(list.numLabels, static_cast<int>(expected.size()));
  ASSERT_EQ(list.labels.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    EXPECT_EQ(list.labels[i].text, expected[i].text);
    EXPECT_EQ(list.labels[i].value, expected[i].value);
  }
}

TEST(TLabelList, AddSumsExactTextsAndKeepsFirstAddedOrder) {
  struct Case {
    const char* name;
    std::vector<Entry> adds;
    std::vector<Entry> expected;
  };
  const Case cases[] = {
      {"nothing added", {}, {}},
      {"same text twice sums", {{"A", 1}, {"A", 1}}, {{"A", 2}}},
      {"case-sensitive texts stay apart", {{"A", 1}, {"a", 1}}, {{"A", 1}, {"a", 1}}},
      {"new text goes last", {{"A", 1}, {"B", 0.5}}, {{"A", 1}, {"B", 0.5}}},
      {"sum keeps the entry's first place",
       {{"A", 1}, {"B", 0.5}, {"C", 2}, {"A", 0.25}, {"B", -0.5}},
       {{"A", 1.25}, {"B", 0}, {"C", 2}}},
      {"prefix is not a match",
       {{"AB", 1}, {"A", 1}, {"ABC", 1}},
       {{"AB", 1}, {"A", 1}, {"ABC", 1}}},
      {"empty text is a text", {{"", 1}, {"", 2}}, {{"", 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TLabelList list;
    for (const Entry& add : c.adds) list.Add(add.text.c_str(), add.value);
    ExpectEntries(list, c.expected);
  }
}

TEST(TLabelList, ConstructorsAndClear) {
  ExpectEntries(TLabelList(), {});
  std::string text = "cat";
  TLabelList one(text.c_str(), 1.5);
  text[0] = 'b';  // the list keeps its own copy
  ExpectEntries(one, {{"cat", 1.5}});
  one.Clear();
  ExpectEntries(one, {});
}

TEST(TLabelList, CopiesAreIndependent) {
  TLabelList source("A", 1);
  source.Add("B", 2);
  TLabelList copy(source);
  copy.Add("A", 10);
  copy.labels[1].text = "Z";
  ExpectEntries(source, {{"A", 1}, {"B", 2}});
  ExpectEntries(copy, {{"A", 11}, {"Z", 2}});

  TLabelList assigned("X", 5);
  assigned = source;
  source.Add("C", 3);
  ExpectEntries(assigned, {{"A", 1}, {"B", 2}});
}

TEST(TLabelList, AssignmentEdgeCases) {
  TLabelList list("A", 1);
  list.Add("B", 2);
  TLabelList& alias = list;
  list = alias;
  ExpectEntries(list, {{"A", 1}, {"B", 2}});

  list = TLabelList();
  ExpectEntries(list, {});

  TLabelList moved("M", 4);
  TLabelList target(std::move(moved));
  ExpectEntries(target, {{"M", 4}});
  ExpectEntries(moved, {});  // NOLINT(bugprone-use-after-move): a moved-from list is empty

  TLabelList other("N", 1);
  target = std::move(other);
  ExpectEntries(target, {{"N", 1}});
  EXPECT_EQ(other.numLabels, 0);  // NOLINT(bugprone-use-after-move)
}

}  // namespace
}  // namespace kartlo
