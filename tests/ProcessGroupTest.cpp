#include "Kohonen/Train/ProcessGroup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "Kohonen/Common/CommandLine.h"
#include "tests/ThreadProcessGroup.h"

namespace {

using mapsmith::ProcessGroup;
using mapsmith::RunError;
using mapsmith::UsageError;

// What Together threw on each process: "" when nothing, else a description.
std::vector<std::string> Outcomes(int processes, const std::function<void(int rank)>& step, bool sayWhere = true) {
  std::vector<std::string> seen(static_cast<std::size_t>(processes));
  grouptest::RunProcesses(processes, [&](ProcessGroup& group) {
    std::string& mine = seen[static_cast<std::size_t>(group.Rank())];
    try {
      mapsmith::Together(group, [&] { step(group.Rank()); }, sayWhere);
    } catch (const RunError& e) {
      mine = "run: " + e.file + ": " + e.reason;
    } catch (const UsageError& e) {
      mine = "usage: " + e.message;
    } catch (const std::bad_alloc&) {
      mine = "memory";
    }
  });
  return seen;
}

TEST(TogetherTest, EveryProcessThrowsTheFailureOfTheLowestFailingProcess) {
  EXPECT_EQ(Outcomes(3, [](int) {}), (std::vector<std::string>{"", "", ""}));
  // Processes 1 and 2 fail: process 1's failure, with where it happened.
  const auto failing = [](int rank) {
    if (rank > 0) throw RunError{"rows.dat", "failed on " + std::to_string(rank)};
  };
  const std::string first = "run: rows.dat: failed on 1 (process 1 on testhost)";
  EXPECT_EQ(Outcomes(3, failing), (std::vector<std::string>{first, first, first}));
  // A fault of the file itself is said without the process.
  const std::string plain = "run: rows.dat: failed on 1";
  EXPECT_EQ(Outcomes(3, failing, false), (std::vector<std::string>{plain, plain, plain}));
  // Process 0's failure comes first and names no process.
  const auto all = [](int rank) { throw RunError{"", "failed on " + std::to_string(rank)}; };
  EXPECT_EQ(Outcomes(2, all), (std::vector<std::string>{"run: : failed on 0", "run: : failed on 0"}));
  // Usage errors stay usage errors; a lack of memory on process 0 stays one,
  // elsewhere it is a run-time failure that says where.
  const auto usage = [](int rank) {
    if (rank == 1) throw UsageError{"option --x is wrong"};
  };
  EXPECT_EQ(Outcomes(2, usage), (std::vector<std::string>{"usage: option --x is wrong", "usage: option --x is wrong"}));
  EXPECT_EQ(Outcomes(2, [](int rank) { if (rank == 0) throw std::bad_alloc(); }),
            (std::vector<std::string>{"memory", "memory"}));
  const std::string memory = "run: : not enough memory (process 1 on testhost)";
  EXPECT_EQ(Outcomes(2, [](int rank) { if (rank == 1) throw std::bad_alloc(); }),
            (std::vector<std::string>{memory, memory}));
}

TEST(ProcessGroupValuesTest, VectorsTravelWhole) {
  grouptest::RunProcesses(3, [](ProcessGroup& group) {
    std::vector<double> values;
    if (group.Rank() == 0) values = {1.5, -0.0, 3.25};
    mapsmith::BroadcastValues(group, 0, values);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_TRUE(std::signbit(values[1]));
    if (group.Rank() == 1) mapsmith::SendValues(group, 2, std::vector<int>{});
    if (group.Rank() == 2) {
      std::vector<int> none = {7};
      mapsmith::ReceiveValues(group, 1, none);
      EXPECT_TRUE(none.empty());
    }
    EXPECT_EQ(mapsmith::GatherToAll(group, group.Rank() * 10), (std::vector<int>{0, 10, 20}));
  });
}

}  // namespace
