#include "Kohonen/Train/DistributedTraining.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "Kohonen/Create/Mapsmith.h"
#include "Kohonen/Train/MapsmithTrain.h"
#include "Kohonen/Train/RowShare.h"
#include "NeuralNets/TPreparedMap.h"
#include "NeuralNets/TrainingRandom.h"
#include "tests/TestFiles.h"
#include "tests/ToolRun.h"
#include "tests/ThreadProcessGroup.h"

namespace {

using mapsmith::ProcessGroup;

struct Outcome {
  int status = -1;
  std::string out, err;
};

// A 6 x 5 map of 3 inputs and 3,000 rows of 3 inputs (three blocks of rows),
// both with values from the training's own generator.
class DistributedTrainingTest : public testfiles::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    TTrainingRandom random(7);
    const int dims[] = {6, 5};
    TKohonenNetwork net(3, 2, dims);
    for (int i = 0; i < 30; ++i)
      for (int j = 0; j < 3; ++j) net.GetConnections(1, 2)->Weight(j, i) = random.Unit();
    FileTools tools;
    map_ = Path("in.net");
    SaveNetworkFile(tools, map_.c_str(), &net);
    rows_ = MakeRows(kRows, random);
    data_ = Path("rows.dat");
    ASSERT_EQ(WriteDataSetFile(tools, data_, rows_.get(), nullptr), SUCCESS);
  }

  static constexpr int kRows = 3000;

  // Rows in three loose clusters, so that the map has something to learn.
  static std::unique_ptr<Data> MakeRows(int count, TTrainingRandom& random) {
    auto rows = std::make_unique<Data>(count, 3, 0, false);
    for (int r = 0; r < count; ++r) {
      const double c = static_cast<double>(r % 3);
      const double x[] = {c + random.Unit(), 2.0 - c + random.Unit(), random.Unit()};
      rows->AddRow(x, nullptr, nullptr);
    }
    return rows;
  }

  std::vector<std::string> Args(const std::string& out, const std::vector<std::string>& more,
                                const std::string& data = {}) const {
    std::vector<std::string> args = {"--map", map_, "--data", data.empty() ? data_ : data, "--out", out};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  static Outcome Single(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"MapsmithTrain"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int status = RunMapsmithTrain(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
  }

  // Runs the distributed tool on `processes` threads, process p with the
  // arguments argsOf(p); returns every process's outcome.
  static std::vector<Outcome> Distributed(int processes, const std::function<std::vector<std::string>(int)>& argsOf,
                                          const mapsmith::TrainEnvironment& env = {}) {
    std::vector<Outcome> outcomes(static_cast<std::size_t>(processes));
    grouptest::RunProcesses(processes, [&](ProcessGroup& group) {
      const std::vector<std::string> args = argsOf(group.Rank());
      std::vector<const char*> argv = {"MapsmithTrainMPI"};
      for (const std::string& a : args) argv.push_back(a.c_str());
      std::ostringstream out, err;
      Outcome& o = outcomes[static_cast<std::size_t>(group.Rank())];
      o.status = mapsmith::RunDistributedTrain(group, "MapsmithTrainMPI", static_cast<int>(argv.size()), argv.data(),
                                               out, err, env);
      o.out = out.str();
      o.err = err.str();
    });
    return outcomes;
  }
  static std::vector<Outcome> Distributed(int processes, const std::vector<std::string>& args) {
    return Distributed(processes, [&](int) { return args; });
  }

  // Checks that every process ended with `status` and that process 0 alone
  // printed `err` (the others nothing).
  static void ExpectAllEnded(const std::vector<Outcome>& outcomes, int status, const std::string& err) {
    for (std::size_t p = 0; p < outcomes.size(); ++p) {
      EXPECT_EQ(outcomes[p].status, status) << "process " << p;
      EXPECT_EQ(outcomes[p].out, "") << "process " << p;
      EXPECT_EQ(outcomes[p].err, p == 0 ? err : "") << "process " << p;
    }
  }

  // Every process succeeded, and process 0 alone printed `out`.
  static void ExpectAllEndedWith(const std::vector<Outcome>& outcomes, const std::string& out) {
    for (std::size_t p = 0; p < outcomes.size(); ++p) {
      EXPECT_EQ(outcomes[p].status, 0) << "process " << p << ": " << outcomes[p].err;
      EXPECT_EQ(outcomes[p].out, p == 0 ? out : "") << "process " << p;
      EXPECT_EQ(outcomes[p].err, "") << "process " << p;
    }
  }

  std::string map_, data_;
  std::unique_ptr<Data> rows_;
};

TEST_F(DistributedTrainingTest, AnyNumberOfProcessesAndThreadsGivesTheSingleMachineBytes) {
  const std::vector<std::vector<std::string>> variants = {
      {"--epochs", "6"},
      {"--epochs", "5", "--init", "sample", "--seed", "11"},
      {"--epochs", "4", "--init", "linear"},
      {"--epochs", "5", "--torus", "--neighbourhood", "bubble", "--radius", "2.5", "--final-radius", "0.5"},
  };
  for (std::size_t v = 0; v < variants.size(); ++v) {
    std::vector<std::string> batch = variants[v];
    batch.insert(batch.begin(), {"--mode", "batch"});
    const Outcome single = Single(Args(Path("single.net"), batch));
    ASSERT_EQ(single.status, 0) << single.err;
    const std::string expected = testfiles::Read(Path("single.net"));
    for (int processes = 1; processes <= 4; ++processes)
      for (const char* threads : {"1", "2", "3"}) {
        std::vector<std::string> more = variants[v];
        more.insert(more.end(), {"--threads", threads});
        std::string name = "p";
        name += std::to_string(processes);
        name += threads;
        const std::string out = Path(name + ".net");
        const std::vector<Outcome> runs = Distributed(processes, Args(out, more));
        SCOPED_TRACE("variant " + std::to_string(v) + ", " + std::to_string(processes) + " processes, " + threads +
                     " threads");
        ExpectAllEndedWith(runs, single.out);
        EXPECT_EQ(testfiles::Read(out), expected);
      }
  }
}

TEST_F(DistributedTrainingTest, EveryKindOfDataFileGivesTheSameBytes) {
  // The same rows as CSV, and as a data set file with two rows to a line
  // and a comment among them (read whole by process 0, then sent out).
  std::string csv = "a,b,c\n";
  std::string paired = "[FormatVersion = 1.0]\n[DataSet]\n[Rows = " + std::to_string(kRows) +
                       "]\n[Inputs = 3]\n[ExpectedOutputs = 0]\n[GeneratedOutputs = 0]\n[Error = 0]\n[Data]\n";
  char a[FileTools::GeneralNumberSize];
  for (int r = 0; r < kRows; ++r) {
    for (int j = 0; j < 3; ++j) {
      const std::string v(FileTools::FormatGeneral(rows_->MbrDyaRtpInputs[r][j], a));
      csv += v + (j < 2 ? "," : "\n");
      paired += v + " ";
    }
    paired += r % 2 == 1 ? "\n" : " ";
    if (r == 1500) paired += "/* a comment\n in the rows */\n";
  }
  paired += "[~Data]\n[~DataSet]\n";
  const std::string csvPath = Write("rows.csv", csv);
  const std::string pairedPath = Write("paired.dat", paired);

  // Rows two to a line cannot be placed by counting lines.
  grouptest::RunProcesses(2, [&](ProcessGroup& group) {
    EXPECT_FALSE(mapsmith::ReadRowShare(group, pairedPath, {}, 3).readInPlace);
  });

  const std::vector<std::string> options = {"--epochs", "3", "--init", "linear"};
  std::vector<std::string> batch = options;
  batch.insert(batch.begin(), {"--mode", "batch"});
  ASSERT_EQ(Single(Args(Path("single.net"), batch)).status, 0);
  const std::string expected = testfiles::Read(Path("single.net"));
  for (const std::string& data : {csvPath, pairedPath}) {
    for (int processes : {2, 3}) {
      const std::string out = Path("out.net");
      const std::vector<Outcome> runs = Distributed(processes, Args(out, options, data));
      ASSERT_EQ(runs[0].status, 0) << runs[0].err;
      EXPECT_EQ(testfiles::Read(out), expected) << data << " on " << processes << " processes";
    }
  }
}

TEST_F(DistributedTrainingTest, ProcessZeroPrintsWhatTheReadersNotice) {
  std::string csv = "a,b,c,name\n";
  for (int r = 0; r < 2000; ++r) csv += std::to_string(r % 3) + ",0.5,0.25," + (r == 1500 ? "" : "x") + "\n";
  const std::string rows = Write("rows.csv", csv);
  const std::vector<Outcome> runs =
      Distributed(2, Args(Path("out.net"), {"--epochs", "1", "--label-column", "name"}, rows));
  ASSERT_EQ(runs[0].status, 0) << runs[0].err;
  EXPECT_EQ(runs[0].err, "MapsmithTrainMPI: " + rows + ": warning: 1 row has an empty label cell and no label\n");
  EXPECT_EQ(runs[1].err, "");
}

TEST_F(DistributedTrainingTest, APipeIsReadByProcessZeroAlone) {
  // The rows as a data set file through a FIFO: process 0 reads it whole
  // (once) and sends the others their rows; they never open it.
  const std::string rows = testfiles::Read(data_);
  const std::string fifo = Path("rows.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << rows; });
  const std::vector<Outcome> runs = Distributed(3, Args(Path("piped.net"), {"--epochs", "3"}, fifo));
  writer.join();
  ExpectAllEndedWith(runs, Single(Args(Path("file.net"), {"--epochs", "3"})).out);
  EXPECT_EQ(testfiles::Read(Path("piped.net")), testfiles::Read(Path("file.net")));
}

TEST_F(DistributedTrainingTest, EachProcessReadsOnlyItsOwnRowsOfADataSetFile) {
  FileTools tools;
  std::unique_ptr<Data> whole, results;
  ASSERT_EQ(ReadDataSetFile(tools, data_, whole, results), SUCCESS);
  for (int processes = 1; processes <= 4; ++processes) {
    std::vector<mapsmith::RowShare> shares(static_cast<std::size_t>(processes));
    grouptest::RunProcesses(processes, [&](ProcessGroup& group) {
      shares[static_cast<std::size_t>(group.Rank())] = mapsmith::ReadRowShare(group, data_, {}, 3);
    });
    for (int p = 0; p < processes; ++p) {
      const mapsmith::RowShare& share = shares[static_cast<std::size_t>(p)];
      EXPECT_TRUE(share.readInPlace);
      ASSERT_EQ(share.firsts, mapsmith::RowFirsts(kRows, processes));
      // Holding no more than its own rows, each the row of the file.
      const long long first = share.firsts[p];
      ASSERT_EQ(share.rows.Count(), share.firsts[p + 1] - first);
      if (share.data) {
        EXPECT_EQ(share.data->MbrNdxRows, share.rows.Count());
      }
      for (long long r = 0; r < share.rows.Count(); ++r)
        for (int j = 0; j < 3; ++j)
          ASSERT_EQ(share.rows.rows[r][j], whole->MbrDyaRtpInputs[first + r][j]) << "row " << first + r;
    }
  }
  // Blocks go to the earlier processes first: 3 blocks on 4 processes.
  EXPECT_EQ(mapsmith::RowFirsts(kRows, 4), (std::vector<long long>{0, 1024, 2048, 3000, 3000}));
  EXPECT_EQ(mapsmith::RowFirsts(kRows, 2), (std::vector<long long>{0, 2048, 3000}));
}

TEST_F(DistributedTrainingTest, HelpAndVersionAndTheManualPageNameTheSameOptions) {
  const std::vector<Outcome> version = Distributed(2, std::vector<std::string>{"--version"});
  ExpectAllEndedWith(version, "MapsmithTrainMPI " MAPSMITH_VERSION "\n");
  const std::vector<Outcome> help = Distributed(1, std::vector<std::string>{"--help"});
  ASSERT_EQ(help[0].status, 0);
  const std::string manual = testfiles::Read(std::string(MAPSMITH_TEST_DATA) + "/../../docs/MapsmithTrainMPI.1");
  ASSERT_FALSE(manual.empty());
  // The manual names mpirun's --hostfile besides the tool's own options.
  std::set<std::string> named = tooltest::LongOptions(manual);
  EXPECT_EQ(named.erase("hostfile"), 1u);
  EXPECT_EQ(named, tooltest::LongOptions(help[0].out));
  EXPECT_EQ(tooltest::OptionsWithoutDefault(help[0].out), std::set<std::string>{});
}

TEST_F(DistributedTrainingTest, TheReadmeExamplePrintsWhatItSays) {
  // The README trains examples/train on two processes under mpirun (run as
  // written by CI); here the same work on processes run as threads, and on
  // one machine.
  const std::string root = std::string(MAPSMITH_TEST_DATA) + "/../..";
  const std::string readme = testfiles::Read(root + "/README.md");
  for (const char* line :
       {"    ./build-mpi/Mapsmith examples/train/shades.params\n",
        "    mpirun -np 2 ./build-mpi/MapsmithTrainMPI --map shades.net --data examples/train/shades.dat --out "
        "shades-trained.net --init linear\n"})
    EXPECT_NE(readme.find(line), std::string::npos) << line;
  const std::string map = Write("shades.net", "");
  {
    std::string params = testfiles::Read(root + "/examples/train/shades.params");
    params.replace(params.find("shades.net"), 10, map);
    const std::string path = Write("shades.params", params);
    const char* argv[] = {"Mapsmith", path.c_str()};
    std::ostringstream out, err;
    ASSERT_EQ(RunMapsmith(2, argv, out, err), 0) << err.str();
  }
  const std::string data = root + "/examples/train/shades.dat";
  const std::string expected = testfiles::Read(root + "/examples/train/shades-trained.txt");
  const std::vector<std::string> args = {"--map", map, "--data", data, "--out", Path("trained.net"), "--init",
                                         "linear"};
  ExpectAllEndedWith(Distributed(2, args), expected);
  const std::string trained = testfiles::Read(Path("trained.net"));
  EXPECT_EQ(Single(args).out, expected);
  EXPECT_EQ(testfiles::Read(Path("trained.net")), trained);
}

TEST_F(DistributedTrainingTest, OnlineTrainingIsAUsageError) {
  const std::string out = Write("old.net", "old");
  const std::vector<Outcome> runs = Distributed(2, Args(out, {"--mode", "online"}));
  ExpectAllEnded(runs, 2,
                 "MapsmithTrainMPI: option --mode online is not for processes spread over machines: online "
                 "training moves the map after each row in turn; train online with MapsmithTrain\n"
                 "Try 'MapsmithTrainMPI --help'.\n");
  EXPECT_EQ(testfiles::Read(out), "old");
}

TEST_F(DistributedTrainingTest, AFailureOnAnyProcessEndsEveryProcessWithOneMessage) {
  const std::string out = Write("old.net", "old");
  // Process 1 cannot find its file.
  auto runs = Distributed(3, [&](int p) { return Args(out, {}, p == 1 ? Path("missing.dat") : data_); });
  ExpectAllEnded(runs, 1,
                 "MapsmithTrainMPI: " + Path("missing.dat") +
                     ": cannot open: No such file or directory (process 1 on testhost)\n");

  // Process 2 has a shorter copy of the rows.
  std::string shorter = testfiles::Read(data_);
  shorter.resize(shorter.size() - 40);
  const std::string copy = Write("copy/rows.dat", shorter);
  runs = Distributed(3, [&](int p) { return Args(out, {}, p == 2 ? copy : data_); });
  const std::string size = std::to_string(testfiles::Read(data_).size());
  ExpectAllEnded(runs, 1,
                 "MapsmithTrainMPI: " + data_ + ": is not the same file on every process: " + size +
                     " bytes on process 0, " + std::to_string(shorter.size()) + " on process 2\n");

  // Process 1 reads another map.
  const std::string other = Write("other.net", testfiles::Read(map_) + "\n");
  runs = Distributed(2, [&](int p) {
    std::vector<std::string> args = Args(out, {});
    if (p == 1) args[1] = other;
    return args;
  });
  ExpectAllEnded(runs, 1,
                 "MapsmithTrainMPI: " + map_ +
                     ": is not the same file on every process: process 1 reads other bytes than process 0\n");

  // A row of process 1's share holds NaN: the message of the single-machine
  // tool, which names the row of the whole file.
  rows_->MbrDyaRtpInputs[2500][1] = std::numeric_limits<double>::quiet_NaN();
  FileTools tools;
  const std::string bad = Path("bad.dat");
  ASSERT_EQ(WriteDataSetFile(tools, bad, rows_.get(), nullptr), SUCCESS);
  const Outcome single = Single(Args(out, {}, bad));
  EXPECT_EQ(single.err, "MapsmithTrain: " + bad + ": Row 2501 of the data set holds NaN or infinity\n");
  runs = Distributed(2, Args(out, {}, bad));
  ExpectAllEnded(runs, 1, "MapsmithTrainMPI: " + bad + ": Row 2501 of the data set holds NaN or infinity\n");

  // A data file of no rows, and a map the training cannot use.
  const std::string empty = Write("empty.csv", "a,b,c\n");
  runs = Distributed(2, Args(out, {}, empty));
  ExpectAllEnded(runs, 1, "MapsmithTrainMPI: " + empty + ": The data set has no rows\n");
  const std::string notMap = Write("rows.csv", "1,2,3\n");
  runs = Distributed(2, [&](int) {
    std::vector<std::string> args = Args(out, {});
    args[1] = notMap;
    return args;
  });
  EXPECT_EQ(runs[0].status, 1);
  EXPECT_EQ(runs[1].status, 1);
  EXPECT_EQ(runs[0].err.rfind("MapsmithTrainMPI: " + notMap + ": ", 0), 0u) << runs[0].err;

  // An output that cannot be written: every process ends with status 1.
  runs = Distributed(2, Args(Path("no/such/dir/out.net"), {"--epochs", "1"}));
  EXPECT_EQ(runs[0].status, 1);
  EXPECT_EQ(runs[1].status, 1);
  EXPECT_EQ(runs[0].err.rfind("MapsmithTrainMPI: " + Path("no/such/dir/out.net") + ": cannot create", 0), 0u)
      << runs[0].err;
  EXPECT_EQ(testfiles::Read(out), "old");
}

TEST_F(DistributedTrainingTest, OnlyProcessZeroDrawsProgress) {
  mapsmith::TrainEnvironment env;
  env.terminal = true;
  double now = 0.0;
  env.clock = [&now] { return now += 1.0; };
  const std::vector<Outcome> runs = Distributed(2, [&](int) { return Args(Path("out.net"), {"--epochs", "2"}); }, env);
  ASSERT_EQ(runs[0].status, 0) << runs[0].err;
  EXPECT_NE(runs[0].err.find("epochs/s"), std::string::npos) << runs[0].err;
  EXPECT_EQ(runs[1].err, "");
}

}  // namespace
