#include "DataObject/Labels.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

namespace {

// The list's labels as "name=value" pairs in list order.
std::string Show(const TLabelList& list) {
  std::string text;
  for (const TLabel& label : list.labels) {
    text += label.name + "=" + std::to_string(label.value) + " ";
  }
  return text;
}

TEST(LabelListTest, AddSumsTheWeightOfANameAlreadyPresent) {
  TLabelList list;
  EXPECT_EQ(list.count(), 0);
  list.Add("red", 1.0);
  ASSERT_EQ(list.count(), 1);
  EXPECT_EQ(list.labels[0].name, "red");
  EXPECT_EQ(list.labels[0].value, 1.0);
  list.Add("red", 2.5);
  ASSERT_EQ(list.count(), 1);
  EXPECT_EQ(list.labels[0].value, 3.5);
}

TEST(LabelListTest, NamesAreComparedByteForByteAndKeepFirstAddedOrder) {
  TLabelList list;
  list.Add("red", 1.0);
  list.Add("Red", 1.0);
  list.Add("big", 0.25);
  list.Add("red ", 1.0);
  list.Add(std::string("re\0d", 4), 1.0);  // an embedded zero byte is part of the name
  list.Add("red", 1.0);
  EXPECT_EQ(list.count(), 5);
  EXPECT_EQ(list.labels[0].name, "red");
  EXPECT_EQ(list.labels[0].value, 2.0);
  EXPECT_EQ(list.labels[1].name, "Red");
  EXPECT_EQ(list.labels[2].name, "big");
  EXPECT_EQ(list.labels[3].name, "red ");
  EXPECT_EQ(list.labels[4].name, std::string("re\0d", 4));
}

TEST(LabelListTest, ZeroAndNegativeWeightsAreAddedAndTheLabelStays) {
  TLabelList list("a", 1.0);
  list.Add("a", -1.0);
  list.Add("b", 0.0);
  list.Add("b", -2.0);
  EXPECT_EQ(Show(list), "a=0.000000 b=-2.000000 ");
}

TEST(LabelListTest, CopiesAreIndependentOfTheirSource) {
  auto source = std::make_unique<TLabelList>("red", 1.0);
  source->Add("big", 0.5);
  TLabelList copy(*source);
  copy.Add("red", 1.0);
  copy.Add("new", 1.0);
  EXPECT_EQ(Show(*source), "red=1.000000 big=0.500000 ");
  source.reset();  // the copy's names stay valid
  EXPECT_EQ(Show(copy), "red=2.000000 big=0.500000 new=1.000000 ");

  TLabelList assigned("old", 3.0);
  assigned = copy;
  EXPECT_EQ(Show(assigned), Show(copy));
  assigned.Add("big", 1.0);
  EXPECT_EQ(copy.labels[1].value, 0.5);
}

TEST(LabelListTest, SelfAssignmentKeepsAndEmptyAssignmentClears) {
  TLabelList list("red", 1.0);
  list.Add("big", 2.0);
  TLabelList& same = list;
  list = same;
  EXPECT_EQ(Show(list), "red=1.000000 big=2.000000 ");

  list = TLabelList();
  EXPECT_EQ(list.count(), 0);
  EXPECT_TRUE(list.labels.empty());
}

// Long lists find names through an index: the order of first addition and the
// summing rule stay those of the short list, also after copies, clearing and
// direct changes of `labels`.
TEST(LabelListTest, LongListsKeepOrderAndSumsThroughEveryChange) {
  constexpr int kNames = 5000;
  auto name = [](int i) { return std::string("n").append(std::to_string((i * 7919) % kNames)); };
  TLabelList list;
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < kNames; ++i) list.Add(name(i), round == 0 ? 1.0 : 0.5);
  ASSERT_EQ(list.count(), kNames);
  for (int i = 0; i < kNames; ++i) {
    EXPECT_EQ(list.labels[i].name, name(i));
    EXPECT_EQ(list.labels[i].value, 1.5);
  }

  TLabelList copy(list);
  copy.Add(name(10), 1.0);
  copy.Add("extra", 1.0);
  EXPECT_EQ(copy.count(), kNames + 1);
  EXPECT_EQ(copy.labels[10].value, 2.5);
  EXPECT_EQ(list.labels[10].value, 1.5);
  TLabelList moved(std::move(copy));
  moved.Add("extra", 1.0);
  EXPECT_EQ(moved.labels.back().value, 2.0);
  EXPECT_EQ(moved.count(), kNames + 1);

  // Labels appended or removed directly are found; a cleared list starts over.
  list.labels.emplace_back("direct", 1.0);
  list.Add("direct", 1.0);
  EXPECT_EQ(list.count(), kNames + 1);
  EXPECT_EQ(list.labels.back().value, 2.0);
  list.labels.resize(100);
  for (int i = 0; i < 200; ++i) list.Add(name(i), 1.0);
  EXPECT_EQ(list.count(), 200);
  EXPECT_EQ(list.labels[99].value, 2.5);
  EXPECT_EQ(list.labels[100].value, 1.0);
  EXPECT_EQ(list.labels[150].name, name(150));
  list.Clear();
  list.Add(name(3), 1.0);
  ASSERT_EQ(list.count(), 1);
  EXPECT_EQ(list.labels[0].name, name(3));
}

TEST(LabelTest, AssignmentCopiesNameAndValue) {
  TLabel label;
  EXPECT_TRUE(label.name.empty());
  TLabel other("tall", -0.5);
  label = other;
  other.name[0] = 'b';
  EXPECT_EQ(label.name, "tall");
  EXPECT_EQ(label.value, -0.5);
  TLabel& same = label;
  label = same;
  EXPECT_EQ(label.name, "tall");
}

}  // namespace
