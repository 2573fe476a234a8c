#include "NeuralNets/TrainingParts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Kohonen/Train/DistributedTraining.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/TPreparedMap.h"
#include "NeuralNets/TrainingRandom.h"
#include "tests/ThreadProcessGroup.h"

namespace {

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(BlocksOfPartTest, ContiguousEvenSharesEarlierPartsFirst) {
  for (long long blocks : {0LL, 1LL, 5LL, 7LL, 98LL})
    for (int parts = 1; parts <= 9; ++parts) {
      long long next = 0;
      for (int p = 0; p < parts; ++p) {
        const TBlockRange r = BlocksOfPart(blocks, parts, p);
        ASSERT_EQ(r.first, next);
        const long long size = r.end - r.first;
        EXPECT_TRUE(size == blocks / parts || size == blocks / parts + 1);
        if (p > 0) {
          const TBlockRange before = BlocksOfPart(blocks, parts, p - 1);
          EXPECT_LE(size, before.end - before.first);
        }
        next = r.end;
      }
      EXPECT_EQ(next, blocks);
    }
  EXPECT_EQ(BlockCount(0), 0);
  EXPECT_EQ(BlockCount(1024), 1);
  EXPECT_EQ(BlockCount(1025), 2);
}

// Rows whose sums round differently in another order, and a map to find
// their winners.
class PartsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TTrainingRandom random(3);
    for (int r = 0; r < kRows; ++r)
      for (int j = 0; j < kInputs; ++j) values_.push_back((random.Unit() - 0.5) * (r % 7 == 0 ? 1e8 : 1.0));
    rows_ = CollectRows(values_.data(), kRows, kInputs, "test");
    const int dims[] = {3, 4};
    net_ = std::make_unique<TKohonenNetwork>(kInputs, 2, dims);
    for (int i = 0; i < 12; ++i)
      for (int j = 0; j < kInputs; ++j) net_->GetConnections(1, 2)->Weight(j, i) = random.Unit() - 0.5;
  }
  static constexpr int kRows = 5000;  // five blocks, the last short
  static constexpr int kInputs = 4;
  std::vector<double> values_;
  TRowSource rows_;
  std::unique_ptr<TKohonenNetwork> net_;
};

TEST_F(PartsTest, BlockSumsAddedAlongTheProcessesAreTheSumsOfOneMachine) {
  TPreparedMap map(*net_);
  std::vector<double> scratch;
  // One machine: every block's sums added in block order.
  const long long blocks = BlockCount(kRows);
  TBatchSums block, whole;
  block.Resize(12, kInputs);
  whole.Resize(12, kInputs);
  std::vector<TCompactBatchSums> compact(static_cast<std::size_t>(blocks));
  for (long long b = 0; b < blocks; ++b) {
    const long long first = b * kTrainingBlockRows;
    BatchBlockSums(map, rows_.rows.data() + first, std::min(kTrainingBlockRows, kRows - first), block, scratch);
    AddBatchSums(whole, block);
    compact[static_cast<std::size_t>(b)].From(block);
  }
  // The same blocks dealt to 1 to 7 processes and passed along them.
  for (int processes = 1; processes <= 7; ++processes)
    grouptest::RunProcesses(processes, [&](mapsmith::ProcessGroup& group) {
      const TBlockRange mine = BlocksOfPart(blocks, processes, group.Rank());
      const std::vector<TCompactBatchSums> own(compact.begin() + mine.first, compact.begin() + mine.end);
      TBatchSums total;
      total.Resize(12, kInputs);
      for (int epoch = 0; epoch < 2; ++epoch) {  // the total is replaced, not added to
        mapsmith::CombineBatchSums(group, total, own);
        EXPECT_TRUE(SameBits(total.sums, whole.sums)) << processes << " processes, process " << group.Rank();
        EXPECT_EQ(total.counts, whole.counts);
      }
    });
}

TEST_F(PartsTest, PassesAndFetchesSeeTheRowsOfAllProcessesInOrder) {
  TLocalTrainingRows local(rows_);
  const auto add = [](const double* const* x, long long count, double* state) {
    for (long long r = 0; r < count; ++r)
      for (int j = 0; j < kInputs; ++j) state[j] += x[r][j] * (1.0 + 1e-9 * j);
  };
  std::vector<double> expected(kInputs, 0.0);
  local.Pass(expected, add);
  const std::vector<long long> which = {4999, 0, 1024, 2047, 2048, 17, 4999};
  std::vector<double> fetched;
  local.Fetch(which, fetched);
  for (std::size_t i = 0; i < which.size(); ++i)
    for (int j = 0; j < kInputs; ++j) ASSERT_EQ(fetched[i * kInputs + j], rows_.rows[which[i]][j]);

  for (int processes = 1; processes <= 6; ++processes) {
    const std::vector<long long> firsts = [&] {
      std::vector<long long> f(static_cast<std::size_t>(processes) + 1);
      for (int p = 0; p < processes; ++p)
        f[p] = std::min<long long>(kRows, BlocksOfPart(BlockCount(kRows), processes, p).first * kTrainingBlockRows);
      f[processes] = kRows;
      return f;
    }();
    grouptest::RunProcesses(processes, [&](mapsmith::ProcessGroup& group) {
      const long long first = firsts[group.Rank()];
      const TRowSource mine = CollectRows(values_.data() + first * kInputs, firsts[group.Rank() + 1] - first,
                                          kInputs, "test", first);
      mapsmith::GroupTrainingRows rows(group, firsts, mine);
      EXPECT_EQ(rows.Count(), kRows);
      std::vector<double> state(kInputs, 0.0);
      rows.Pass(state, add);
      EXPECT_TRUE(SameBits(state, expected)) << processes << " processes";
      std::vector<double> got;
      rows.Fetch(which, got);
      EXPECT_TRUE(SameBits(got, fetched));
    });
  }
}

TEST_F(PartsTest, InitialisationsOverProcessesGiveTheWeightsOfOneMachine) {
  const TMapGrid grid(*net_, false);
  TPreparedMap sample(*net_), linear(*net_);
  TLocalTrainingRows local(rows_);
  TTrainingRandom random(5);
  InitSample(sample, local, random);
  InitLinear(linear, local, grid);
  auto weights = [](const TPreparedMap& map) {
    std::vector<double> w(static_cast<std::size_t>(map.NumNeurons()) * map.NumInputs());
    for (int i = 0; i < map.NumNeurons(); ++i) map.CopyWeights(i, w.data() + i * map.NumInputs());
    return w;
  };
  const std::vector<double> sampled = weights(sample), spread = weights(linear);
  grouptest::RunProcesses(3, [&](mapsmith::ProcessGroup& group) {
    const std::vector<long long> firsts = {0, 2048, 4096, kRows};
    const long long first = firsts[group.Rank()];
    const TRowSource mine =
        CollectRows(values_.data() + first * kInputs, firsts[group.Rank() + 1] - first, kInputs, "test", first);
    mapsmith::GroupTrainingRows rows(group, firsts, mine);
    TPreparedMap s(*net_), l(*net_);
    TTrainingRandom r(5);
    InitSample(s, rows, r);
    InitLinear(l, rows, grid);
    EXPECT_TRUE(SameBits(weights(s), sampled));
    EXPECT_TRUE(SameBits(weights(l), spread));
  });
}

}  // namespace
