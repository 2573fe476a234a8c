#include "DataObject/Data.h"

#include "KQmessage/TException.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <vector>

namespace {

// Runs `operation` and checks that it is refused with exactly this record.
void ExpectRefused(const std::function<void()>& operation, const std::string& message,
                   const std::string& origin) {
  try {
    operation();
    ADD_FAILURE() << "not refused; expected " << message << " from " << origin;
  } catch (const TException& e) {
    EXPECT_EQ(e.message, message);
    EXPECT_EQ(e.kind, "Bad Parameter");
    EXPECT_EQ(e.origin, origin);
    EXPECT_EQ(e.reply, nullptr);
  }
}

// Adds a row whose inputs are (v, v + 0.5) and whose output is -v.
void AddNumbered(Data& data, double v) {
  const double in[] = {v, v + 0.5};
  const double out[] = {-v};
  data.AddRow(in, out, nullptr);
}

double Input0(const Data& data, std::int32_t row) {
  double value = -1.0;
  data.GetInputDatum(row, 0, value);
  return value;
}

// The first input of each row that `steps` calls of GetNextRow return after a Rewind.
std::vector<double> Walk(Data& data, int steps) {
  std::vector<double> seen;
  std::vector<double> in(data.MbrNdxInputs), out(data.MbrNdxOutputs);
  data.Rewind();
  for (int i = 0; i < steps; ++i) {
    data.GetNextRow(in.data(), out.data(), nullptr);
    seen.push_back(in[0]);
  }
  return seen;
}

using Values = std::vector<double>;

TEST(DataTest, NewSetHoldsZerosInOneBlockPerColumnGroup) {
  Data data(3, 2, 1, true);
  EXPECT_EQ(data.MbrNdxRows, 3);
  EXPECT_EQ(data.MbrNdxDataRows, 0);
  EXPECT_EQ(data.MbrNdxFirstRow, 0);
  EXPECT_EQ(data.MbrNdxLastRow, 0);
  EXPECT_EQ(data.MbrNdxCurrentRow, 0);
  EXPECT_EQ(data.MbrNdxChanges, 0);
  EXPECT_EQ(data.MbrNdxInputSelection, 0);
  EXPECT_TRUE(data.GetInputSelection().empty());
  for (std::int32_t r = 0; r < 3; ++r) {
    EXPECT_TRUE(data.IsValidRow(r));
    double out = -1.0;
    data.GetOutputDatum(r, 0, out);
    EXPECT_EQ(Input0(data, r), 0.0);
    EXPECT_EQ(out, 0.0);
    EXPECT_EQ(data.GetLabels(r)->count(), 0);
  }
  EXPECT_FALSE(data.IsValidRow(-1));
  EXPECT_FALSE(data.IsValidRow(3));
  ASSERT_EQ(data.MbrDyaRtpInputs.size(), 3u);
  EXPECT_EQ(data.MbrDyaRtpInputs[1], data.MbrDyaRtpInputs[0] + 2);
  EXPECT_EQ(data.MbrDyaRtpInputs[2], data.MbrDyaRtpInputs[0] + 4);
  EXPECT_EQ(data.MbrDyaRtpOutputs[2], data.MbrDyaRtpOutputs[0] + 2);

  Data bare(4, 0, -3, false);  // no columns: no row arrays; a negative count is 0
  EXPECT_TRUE(bare.MbrDyaRtpInputs.empty());
  EXPECT_TRUE(bare.MbrDyaRtpOutputs.empty());
  EXPECT_TRUE(bare.MbrDyaLabels.empty());
  EXPECT_EQ(bare.MbrNdxOutputs, 0);
  bare.AddRow(nullptr, nullptr, nullptr);
  EXPECT_EQ(bare.MbrNdxDataRows, 1);
  EXPECT_EQ(bare.GetLabels(3), nullptr);
}

TEST(DataTest, EveryRefusalNamesItsMessageAndOperationRowFirst) {
  Data data(3, 2, 1, true);
  double value = 0.0;
  double row[2] = {0.0, 0.0};
  const int badColumn[] = {0, 2};
  const int badOutput[] = {1};
  const std::string row_ = "Invalid Data Row";
  const std::string in_ = "Invalid Input Data Column";
  const std::string out_ = "Invalid Output Data Column";
  struct Case {
    std::function<void()> operation;
    std::string message;
    std::string origin;
  };
  const std::vector<Case> cases = {
      {[&] { data.GetInputDatum(3, 0, value); }, row_, "Data::GetInputDatum"},
      {[&] { data.GetInputDatum(-1, -1, value); }, row_, "Data::GetInputDatum"},
      {[&] { data.GetInputDatum(0, -1, value); }, in_, "Data::GetInputDatum"},
      {[&] { data.GetInputDatum(2, 2, value); }, in_, "Data::GetInputDatum"},
      {[&] { data.GetOutputDatum(INT_MIN, 5, value); }, row_, "Data::GetOutputDatum"},
      {[&] { data.GetOutputDatum(0, 1, value); }, out_, "Data::GetOutputDatum"},
      {[&] { data.SetInputDatum(INT_MAX, 0, 1.0); }, row_, "Data::SetInputDatum"},
      {[&] { data.SetInputDatum(1, 2, 1.0); }, in_, "Data::SetInputDatum"},
      {[&] { data.SetOutputDatum(-1, 0, 1.0); }, row_, "Data::SetOutputDatum"},
      {[&] { data.SetOutputDatum(0, -1, 1.0); }, out_, "Data::SetOutputDatum"},
      {[&] { data.GetLabels(3); }, row_, "Data::GetLabels"},
      {[&] { data.SetLabels(-1, nullptr); }, row_, "Data::SetLabels"},
      {[&] { data.ClearLabels(3); }, row_, "Data::ClearLabels"},
      {[&] { data.AppendLabel(3, 1.0, "x"); }, row_, "Data::AppendLabel"},
      {[&] { data.SetRow(3, row, row, nullptr); }, row_, "Data::SetRow"},
      {[&] { data.GetInputRow(3, row); }, row_, "Data::GetInputRow"},
      {[&] { data.GetInputRow(-1, row, 2, badColumn); }, row_, "Data::GetInputRow"},
      {[&] { data.GetInputRow(0, row, 2, badColumn); }, in_, "Data::GetInputRow"},
      {[&] { data.GetOutputRow(3, row); }, row_, "Data::GetOutputRow"},
      {[&] { data.GetOutputRow(3, row, 1, badOutput); }, row_, "Data::GetOutputRow"},
      {[&] { data.GetOutputRow(0, row, 1, badOutput); }, out_, "Data::GetOutputRow"},
      {[&] { data.SetInputSelection(2, badColumn); }, in_, "Data::SetInputSelection"},
      {[&] { data.SetSelections(1, badColumn, 1, badOutput); }, out_, "Data::SetSelections"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.origin + " " + c.message);
    ExpectRefused(c.operation, c.message, c.origin);
  }
  // Refused operations changed nothing.
  EXPECT_EQ(data.MbrNdxChanges, 0);
  EXPECT_EQ(data.MbrNdxInputSelection, 0);
  EXPECT_TRUE(data.MbrDyaOutputSelection.empty());
  for (std::int32_t r = 0; r < 3; ++r) EXPECT_EQ(Input0(data, r), 0.0);
}

TEST(DataTest, SettersStoreValuesAndCountChanges) {
  Data data(2, 2, 2, false);
  data.SetInputDatum(1, 1, 4.5);
  data.SetOutputDatum(0, 1, -2.0);
  EXPECT_EQ(data.MbrNdxChanges, 2);
  double row[2];
  data.GetInputRow(1, row);
  EXPECT_EQ(Values(row, row + 2), (Values{0.0, 4.5}));
  data.GetOutputRow(0, row);
  EXPECT_EQ(Values(row, row + 2), (Values{0.0, -2.0}));

  const double in[] = {7.0, 8.0};
  data.SetRow(0, in, nullptr, nullptr);  // outputs left as they were
  data.GetOutputRow(0, row);
  EXPECT_EQ(Values(row, row + 2), (Values{0.0, -2.0}));
  const int columns[] = {1, 0, 1};
  double picked[3];
  data.GetInputRow(0, picked, 3, columns);
  EXPECT_EQ(Values(picked, picked + 3), (Values{8.0, 7.0, 8.0}));
  data.GetOutputRow(0, picked, 1, columns);
  EXPECT_EQ(picked[0], -2.0);
  EXPECT_EQ(data.MbrNdxChanges, 3);
  EXPECT_EQ(data.MbrNdxDataRows, 0);  // writing in place adds no row

  // The counter wraps instead of overflowing.
  data.MbrNdxChanges = INT32_MAX;
  data.SetInputDatum(0, 0, 1.0);
  EXPECT_EQ(data.MbrNdxChanges, INT32_MIN);
}

TEST(DataTest, FullStorageWrapsTheWindowAndOverwritesTheOldestRow) {
  Data data(3, 2, 1, false);
  AddNumbered(data, 1.0);
  EXPECT_EQ(data.MbrNdxDataRows, 1);
  EXPECT_EQ(data.MbrNdxLastRow, 0);
  AddNumbered(data, 2.0);
  AddNumbered(data, 3.0);
  EXPECT_EQ(data.MbrNdxFirstRow, 0);
  EXPECT_EQ(data.MbrNdxLastRow, 2);
  AddNumbered(data, 4.0);
  EXPECT_EQ(data.MbrNdxDataRows, 3);
  EXPECT_EQ(data.MbrNdxFirstRow, 1);
  EXPECT_EQ(data.MbrNdxLastRow, 0);
  EXPECT_EQ(Input0(data, 0), 4.0);
  double out = 0.0;
  data.GetOutputDatum(0, 0, out);
  EXPECT_EQ(out, -4.0);
  for (std::int32_t r = 0; r < 3; ++r) EXPECT_TRUE(data.IsValidRow(r));
  EXPECT_EQ(data.MbrNdxChanges, 8);  // AddRow and the SetRow it does both count

  EXPECT_EQ(Walk(data, 4), (Values{2.0, 3.0, 4.0, 2.0}));
  // Backwards from the oldest row goes to the newest, then down through the ring.
  double in[2];
  data.Rewind();
  data.GetNextRow(in, nullptr, nullptr);
  EXPECT_EQ(data.MbrNdxCurrentRow, 1);
  data.GetPreviousRow(in, nullptr);
  EXPECT_EQ(in[0], 4.0);
  data.GetPreviousRow(in, nullptr);
  EXPECT_EQ(in[0], 3.0);
  data.GetPreviousRow(in, nullptr);
  EXPECT_EQ(in[0], 2.0);

  AddNumbered(data, 5.0);
  AddNumbered(data, 6.0);
  EXPECT_EQ(data.MbrNdxFirstRow, 0);
  EXPECT_EQ(data.MbrNdxLastRow, 2);
  EXPECT_EQ(Walk(data, 3), (Values{4.0, 5.0, 6.0}));

  Data single(1, 2, 1, false);
  AddNumbered(single, 1.0);
  AddNumbered(single, 2.0);
  EXPECT_EQ(single.MbrNdxFirstRow, 0);
  EXPECT_EQ(single.MbrNdxLastRow, 0);
  EXPECT_EQ(Walk(single, 2), (Values{2.0, 2.0}));
}

TEST(DataTest, PartlyFilledStorageWalksOnlyTheAddedRows) {
  Data data(5, 2, 1, false);
  AddNumbered(data, 1.0);
  AddNumbered(data, 2.0);
  EXPECT_EQ(Walk(data, 3), (Values{1.0, 2.0, 1.0}));
  EXPECT_EQ(Input0(data, 3), 0.0);
  data.SetInputDatum(4, 0, 9.0);  // rows beyond the window are written by number
  EXPECT_EQ(Input0(data, 4), 9.0);
  EXPECT_EQ(Walk(data, 5), (Values{1.0, 2.0, 1.0, 2.0, 1.0}));

  Data fresh(3, 2, 1, true);
  double in[2] = {-1.0, -1.0};
  double out[1] = {-1.0};
  const TLabelList* labels = nullptr;
  fresh.Rewind();
  fresh.GetNextRow(in, out, &labels);
  EXPECT_EQ(Values(in, in + 2), (Values{0.0, 0.0}));
  EXPECT_EQ(out[0], 0.0);
  EXPECT_EQ(labels, fresh.GetLabels(0));
  fresh.GetNextRow(in, out, nullptr);
  EXPECT_EQ(fresh.MbrNdxCurrentRow, 0);
  fresh.GetPreviousRow(in, out);
  EXPECT_EQ(fresh.MbrNdxCurrentRow, 0);
}

TEST(DataTest, SetWithoutStorageRowsRefusesRowsAndWalks) {
  Data empty(0, 2, 1, true);
  EXPECT_TRUE(empty.MbrDyaRtpInputs.empty());
  ExpectRefused([&] { AddNumbered(empty, 1.0); }, "Invalid Data Row", "Data::SetRow");
  EXPECT_EQ(empty.MbrNdxChanges, 1);  // AddRow counts before it is refused
  EXPECT_EQ(empty.MbrNdxDataRows, 0);
  double in[2], out[1];
  std::int32_t count = 7;
  ExpectRefused([&] { empty.GetBlock(nullptr, nullptr, 0, 0, count); }, "Data Block Fault",
                "Data::GetBlock");
  EXPECT_EQ(count, 0);
  empty.Rewind();
  ExpectRefused([&] { empty.GetNextRow(in, out, nullptr); }, "Invalid Data Row", "Data::GetNextRow");
  ExpectRefused([&] { empty.GetPreviousRow(in, out); }, "Invalid Data Row", "Data::GetPreviousRow");
  ExpectRefused([&] { empty.GetCurrentRow(in, out, nullptr); }, "Invalid Data Row",
                "Data::GetCurrentRow");
  EXPECT_EQ(empty.MbrNdxCurrentRow, 0);

  Data negative(-5, 1, 1, false);
  EXPECT_EQ(negative.MbrNdxRows, 0);
}

TEST(DataTest, GetBlockCopiesIncreasingRowsUpToTheLastRow) {
  Data data(6, 2, 1, false);
  for (double v = 1.0; v <= 4.0; v += 1.0) AddNumbered(data, v);
  double inRows[6][2];
  double outRows[6][1];
  double* ins[6];
  double* outs[6];
  for (int i = 0; i < 6; ++i) {
    ins[i] = inRows[i];
    outs[i] = outRows[i];
  }
  std::int32_t count = -1;
  data.GetBlock(ins, outs, 0, 100, count);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(inRows[3][1], 4.5);
  EXPECT_EQ(outRows[3][0], -4.0);
  data.GetBlock(ins, outs, 2, 2, count);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(inRows[0][0], 3.0);
  data.GetBlock(ins, nullptr, 3, 1, count);
  EXPECT_EQ(count, 0);
  data.GetBlock(ins, nullptr, 5, 5, count);  // a valid row after the window
  EXPECT_EQ(count, 0);
  count = 9;
  ExpectRefused([&] { data.GetBlock(ins, outs, 6, 6, count); }, "Data Block Fault", "Data::GetBlock");
  EXPECT_EQ(count, 0);
  count = 9;
  ExpectRefused([&] { data.GetBlock(ins, outs, -1, 2, count); }, "Data Block Fault", "Data::GetBlock");
  EXPECT_EQ(count, 0);

  // A wrapped window (rows 1, 2, 0): rows are taken by number up to the newest row.
  Data ring(3, 2, 1, false);
  for (double v = 1.0; v <= 4.0; v += 1.0) AddNumbered(ring, v);
  ring.GetBlock(ins, outs, 0, 100, count);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(inRows[0][0], 4.0);
  ring.GetBlock(ins, outs, 1, 2, count);
  EXPECT_EQ(count, 0);
}

TEST(DataTest, RowLabelsAreCopiedClearedAndSummed) {
  Data data(3, 1, 0, true);
  data.AppendLabel(0, 1.0, "red");
  data.AppendLabel(0, 2.5, "red");
  data.AppendLabel(0, 1.0, "Red");
  const TLabelList* labels = data.GetLabels(0);
  ASSERT_EQ(labels->count(), 2);
  EXPECT_EQ(labels->labels[0].name, "red");
  EXPECT_EQ(labels->labels[0].value, 3.5);

  TLabelList mine("big", 0.25);
  const double in[] = {1.0};
  data.AddRow(in, nullptr, &mine);  // goes to row 0, replacing its list
  mine.Add("later", 1.0);           // the row holds its own copy
  ASSERT_EQ(data.GetLabels(0)->count(), 1);
  EXPECT_EQ(data.GetLabels(0)->labels[0].name, "big");

  data.SetLabels(1, &mine);
  EXPECT_EQ(data.GetLabels(1)->count(), 2);
  data.SetLabels(1, data.GetLabels(1));  // from its own list
  EXPECT_EQ(data.GetLabels(1)->count(), 2);
  data.SetRow(1, nullptr, nullptr, data.GetLabels(1));
  EXPECT_EQ(data.GetLabels(1)->labels[1].name, "later");
  data.SetLabels(1, nullptr);
  EXPECT_EQ(data.GetLabels(1)->count(), 0);
  data.SetLabels(1, &mine);
  data.SetRow(1, in, nullptr, nullptr);  // a row written without a list loses its labels
  EXPECT_EQ(data.GetLabels(1)->count(), 0);
  data.ClearLabels(0);
  EXPECT_EQ(data.GetLabels(0)->count(), 0);

  // On a set without labels lists given with rows are ignored.
  Data plain(2, 1, 0, false);
  plain.AddRow(in, nullptr, &mine);
  EXPECT_EQ(plain.GetLabels(0), nullptr);
  const TLabelList* got = &mine;
  double value = 0.0;
  plain.Rewind();
  plain.GetNextRow(&value, nullptr, &got);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(value, 1.0);
}

TEST(DataDeathTest, LabelWritesOnASetWithoutLabelsStop) {
  Data plain(2, 1, 0, false);
  EXPECT_DEATH(plain.AppendLabel(0, 1.0, "x"), "Assertion failed: MbrHasLabels, file ");
  EXPECT_DEATH(plain.SetLabels(0, nullptr), "Assertion failed: MbrHasLabels");
  EXPECT_DEATH(plain.ClearLabels(1), "Assertion failed: MbrHasLabels");
}

TEST(DataTest, AddRowsAddsEachRowWithItsOwnList) {
  Data data(3, 2, 1, true);
  const double a[] = {1.0, 1.5}, b[] = {2.0, 2.5};
  const double oa[] = {-1.0}, ob[] = {-2.0};
  const double* ins[] = {a, b};
  const double* outs[] = {oa, ob};
  TLabelList lists[2] = {TLabelList("x", 1.0), TLabelList("y", 2.0)};
  data.AddRows(ins, outs, 2, lists);
  EXPECT_EQ(data.MbrNdxDataRows, 2);
  EXPECT_EQ(Input0(data, 1), 2.0);
  EXPECT_EQ(data.GetLabels(1)->labels[0].name, "y");
  data.AddRows(ins, nullptr, 1, nullptr);
  EXPECT_EQ(data.MbrNdxLastRow, 2);
  EXPECT_EQ(data.GetLabels(2)->count(), 0);
  data.AddRows(ins, outs, 0, lists);
  data.AddRows(ins, outs, -3, lists);
  EXPECT_EQ(data.MbrNdxDataRows, 3);
}

TEST(DataTest, SelectionsPickAndOrderTheColumnsOfSequentialReads) {
  Data data(2, 3, 2, true);
  const double in[] = {10.0, 11.0, 12.0};
  const double out[] = {20.0, 21.0};
  TLabelList labels("tag", 1.0);
  data.AddRow(in, out, &labels);

  const int inputs[] = {2, 0};
  data.SetInputSelection(2, inputs);
  EXPECT_EQ(data.MbrNdxInputSelection, 2);
  std::vector<int> copy = data.GetInputSelection();
  EXPECT_EQ(copy, (std::vector<int>{2, 0}));
  copy[0] = 1;  // the caller's copy is its own
  EXPECT_EQ(data.MbrDyaInputSelection[0], 2);

  double gotIn[3] = {-1.0, -1.0, -1.0};
  double gotOut[2] = {-1.0, -1.0};
  const TLabelList* gotLabels = nullptr;
  data.Rewind();
  data.GetNextRow(gotIn, gotOut, &gotLabels);
  EXPECT_EQ(Values(gotIn, gotIn + 3), (Values{12.0, 10.0, -1.0}));
  EXPECT_EQ(Values(gotOut, gotOut + 2), (Values{20.0, 21.0}));
  ASSERT_NE(gotLabels, nullptr);
  EXPECT_EQ(gotLabels->labels[0].name, "tag");

  const int outputs[] = {1};
  data.SetSelections(1, inputs + 1, 1, outputs);
  data.GetCurrentRow(gotIn, gotOut, nullptr);
  EXPECT_EQ(gotIn[0], 10.0);
  EXPECT_EQ(Values(gotOut, gotOut + 2), (Values{21.0, 21.0}));

  // An output selection alone does not apply; an empty selection is no selection.
  data.SetSelections(0, nullptr, 1, outputs);
  EXPECT_EQ(data.MbrNdxOutputSelection, 1);
  data.GetCurrentRow(gotIn, gotOut, nullptr);
  EXPECT_EQ(Values(gotIn, gotIn + 3), (Values{10.0, 11.0, 12.0}));
  EXPECT_EQ(Values(gotOut, gotOut + 2), (Values{20.0, 21.0}));

  // A refused selection leaves the previous one in place.
  const int bad[] = {0, 3};
  ExpectRefused([&] { data.SetInputSelection(2, bad); }, "Invalid Input Data Column",
                "Data::SetInputSelection");
  ExpectRefused([&] { data.SetSelections(2, bad, 0, nullptr); }, "Invalid Input Data Column",
                "Data::SetSelections");
  EXPECT_TRUE(data.GetInputSelection().empty());
  EXPECT_EQ(data.MbrDyaOutputSelection, (std::vector<int>{1}));
  data.SetInputSelection(1, inputs);
  data.SetInputSelection(0, inputs);
  EXPECT_EQ(data.MbrNdxInputSelection, 0);
  EXPECT_TRUE(data.GetInputSelection().empty());
}

TEST(DataTest, CloneReadsAndWalksLikeItsSourceAndIsIndependent) {
  Data source(3, 2, 1, true);
  for (double v = 1.0; v <= 4.0; v += 1.0) {
    TLabelList labels("n", v);
    const double in[] = {v, v + 0.5};
    const double out[] = {-v};
    source.AddRow(in, out, &labels);
  }
  source.Rewind();
  double in[2], out[1];
  source.GetNextRow(in, out, nullptr);
  const int selection[] = {1};
  const int first[] = {0};
  source.SetSelections(1, selection, 1, first);

  std::unique_ptr<Data> clone = source.Clone();
  EXPECT_EQ(clone->MbrNdxRows, 3);
  EXPECT_EQ(clone->MbrNdxDataRows, 3);
  EXPECT_EQ(clone->MbrNdxFirstRow, 1);
  EXPECT_EQ(clone->MbrNdxLastRow, 0);
  EXPECT_EQ(clone->MbrNdxChanges, source.MbrNdxChanges);
  EXPECT_EQ(clone->MbrNdxCurrentRow, 1);
  EXPECT_EQ(clone->MbrNdxInputSelection, 1);
  EXPECT_EQ(clone->MbrDyaInputSelection, source.MbrDyaInputSelection);
  EXPECT_EQ(clone->MbrNdxOutputSelection, 1);
  EXPECT_NE(clone->MbrDyaRtpInputs[0], source.MbrDyaRtpInputs[0]);
  for (std::int32_t r = 0; r < 3; ++r) {
    EXPECT_EQ(Input0(*clone, r), Input0(source, r));
    EXPECT_EQ(clone->GetLabels(r)->labels[0].value, source.GetLabels(r)->labels[0].value);
  }
  clone->SetSelections(0, nullptr, 0, nullptr);
  source.SetSelections(0, nullptr, 0, nullptr);
  EXPECT_EQ(Walk(*clone, 4), Walk(source, 4));
  EXPECT_EQ(Walk(*clone, 4), (Values{2.0, 3.0, 4.0, 2.0}));

  clone->SetInputDatum(0, 0, 99.0);
  clone->AppendLabel(0, 1.0, "n");
  EXPECT_EQ(Input0(source, 0), 4.0);
  EXPECT_EQ(source.GetLabels(0)->labels[0].value, 4.0);

  Data plain(2, 0, 1, false);
  std::unique_ptr<Data> plainClone = plain.Clone();
  EXPECT_TRUE(plainClone->MbrDyaRtpInputs.empty());
  EXPECT_TRUE(plainClone->MbrDyaLabels.empty());
  EXPECT_TRUE(plainClone->GetInputSelection().empty());
}

TEST(DataTest, StorageTooLargeToAllocateIsReportedAsBadAlloc) {
  // Rows times columns beyond any allocation: computed without overflow.
  EXPECT_THROW(Data(INT32_MAX, INT32_MAX, 0, false), std::bad_alloc);
  EXPECT_THROW(Data(INT32_MAX, 0, INT32_MAX, true), std::bad_alloc);
#if !defined(__SANITIZE_ADDRESS__)
  // About 16 TiB: the allocator refuses it (the sanitizer's allocator would stop instead).
  std::ifstream policy("/proc/sys/vm/overcommit_memory");
  int mode = -1;
  if (!(policy >> mode) || mode != 0) GTEST_SKIP() << "memory overcommit policy is not the heuristic";
  EXPECT_THROW(Data(INT32_MAX, 1000, 0, false), std::bad_alloc);
#endif
}

}  // namespace
