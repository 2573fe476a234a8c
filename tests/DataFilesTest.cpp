#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "Kohonen/Common/CommandLine.h"
#include "Kohonen/Common/DataFiles.h"
#include "tests/TestFiles.h"

namespace fs = std::filesystem;
using namespace mapsmith;

namespace {

using DataFilesTest = testfiles::TempDirTest;
using testfiles::Read;

TEST_F(DataFilesTest, InputsAreRecognisedByTheirContent) {
  EXPECT_EQ(DetectFormat(Write("a", "[FormatVersion = 1.0]\n[DataSet]\n")), FileFormat::DataSet);
  EXPECT_EQ(DetectFormat(Write("b", "/* c */ [FormatVersion=1.0] [NeuralNetwork] [Network]")), FileFormat::Network);
  EXPECT_EQ(DetectFormat(Write("c", "  [DATASET]")), FileFormat::DataSet);
  EXPECT_EQ(DetectFormat(Write("d", "3\n1 2 3\n")), FileFormat::SomPakData);
  EXPECT_EQ(DetectFormat(Write("e", "# comment\n3 rect 4 2 gaussian\n")), FileFormat::SomPakCodebook);
  EXPECT_EQ(DetectFormat(Write("f", "x,y\n1,2\n")), FileFormat::Csv);
  EXPECT_EQ(DetectFormat(Write("g", "1.5\n")), FileFormat::Csv);
  EXPECT_EQ(DetectFormat(Write("h", "")), FileFormat::Csv);
  // What the SOM_PAK readers accept: a data file's count followed by items
  // it ignores, a codebook header without the neighbourhood word.
  EXPECT_EQ(DetectFormat(Write("i", "3 rgb colours\n1 2 3\n")), FileFormat::SomPakData);
  EXPECT_EQ(DetectFormat(Write("j", "3 rect 4 2\n")), FileFormat::SomPakCodebook);
  EXPECT_EQ(DetectFormat(Write("k", "3 hexa 4 2 bubble extra\n")), FileFormat::SomPakCodebook);
  EXPECT_EQ(ReadDataFile(Path("i"), FileFormat::Unknown).data->GetNumRows(), 1);
  EXPECT_EQ(ReadMapFile(Write("o", "1 rect 2 1\n0.5\n0.7\n"))->numDimensions, 1);
  const std::string manual = Read(std::string(MAPSMITH_TEST_DATA) + "/../../docs/MapsmithConvert.1");
  EXPECT_NE(manual.find("unless the line is a CSV row of numbers"), std::string::npos);
  // A CSV row of numbers stays CSV, blanks around the cells or not.
  EXPECT_EQ(DetectFormat(Write("l", "1\t2\t3\r\n")), FileFormat::Csv);
  EXPECT_EQ(DetectFormat(Write("m", "1 , 2\n")), FileFormat::Csv);
  EXPECT_EQ(DetectFormat(Write("n", "1;2\n")), FileFormat::Csv);
  try {
    DetectFormat((dir_ / "missing").string());
    FAIL();
  } catch (const RunError& e) {
    EXPECT_EQ(e.reason, "cannot open: No such file or directory");
  }

  EXPECT_EQ(FormatFromExtension("x.CSV"), FileFormat::Csv);
  EXPECT_EQ(FormatFromExtension("x.cod"), FileFormat::SomPakCodebook);
  EXPECT_EQ(FormatFromExtension("x.net"), FileFormat::Network);
  EXPECT_EQ(FormatFromExtension("x.dat"), FileFormat::DataSet);
  EXPECT_EQ(FormatFromExtension(".csv"), FileFormat::DataSet);
  EXPECT_THROW(ParseFormatName("from", "xml"), UsageError);
}

// Feeds `text` once through a FIFO made at `path`, from a thread of its own,
// as a shell pipe feeds a tool. Every later open of the FIFO by a reader
// meets an empty stream instead of waiting for ever, so a reader that opens
// the FIFO twice fails rather than hangs.
class FifoFeed {
 public:
  FifoFeed(std::string path, std::string text) : path_(std::move(path)), text_(std::move(text)) {
    EXPECT_EQ(::mkfifo(path_.c_str(), 0600), 0) << std::strerror(errno);
    thread_ = std::thread([this] { Feed(); });
  }
  ~FifoFeed() {
    done_ = true;
    thread_.join();
  }

 private:
  // Opens the FIFO for writing once a reader has opened it (O_NONBLOCK: no
  // wait when none has; false when the test is over).
  bool OpenWhenRead(int& fd) {
    while (!done_) {
      fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  void Feed() {
    // A reader that closes early makes write fail with EPIPE instead of
    // stopping the test program with SIGPIPE.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    int fd = -1;
    if (!OpenWhenRead(fd)) return;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    for (std::size_t done = 0; done < text_.size();) {
      const ssize_t n = ::write(fd, text_.data() + done, text_.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    while (OpenWhenRead(fd)) ::close(fd);
  }

  std::string path_;
  std::string text_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

TEST_F(DataFilesTest, APipeIsReadWholeThoughItsStartIsLookedAtFirst) {
  // More than the 64 KiB that recognising a file looks at.
  std::string csv = "a,b,c\n";
  for (int r = 0; r < 20000; ++r) csv += std::to_string(r) + ",2,3\n";
  ASSERT_GT(csv.size(), 65536u);
  DataTable table;
  {
    FifoFeed feed(Path("csv.fifo"), csv);
    table = ReadDataFile(Path("csv.fifo"), FileFormat::Unknown);
  }
  ASSERT_EQ(table.data->GetNumRows(), 20000);
  EXPECT_EQ(table.columnNames, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(table.data->MbrDyaRtpInputs[19999][0], 19999.0);

  const std::string dataSet = Path("set.dat");
  WriteDataFile(dataSet, table, FileFormat::DataSet);
  const std::string text = Read(dataSet);
  ASSERT_GT(text.size(), 65536u);
  {
    FifoFeed feed(Path("set.fifo"), text);
    table = ReadDataFile(Path("set.fifo"), FileFormat::Unknown);
  }
  ASSERT_EQ(table.data->GetNumRows(), 20000);
  EXPECT_EQ(table.data->MbrDyaRtpInputs[19999][0], 19999.0);
}

TEST_F(DataFilesTest, DataSetFilesReadAndWriteBackAndAFailedWriteKeepsTheOldFile) {
  const std::string text = Read(std::string(MAPSMITH_TEST_DATA) + "/runs/labelled.dat");
  const std::string in = Write("in.dat", text);
  DataTable table = ReadDataFile(in, FileFormat::Unknown);
  ASSERT_NE(table.data, nullptr);
  const std::string out = (dir_ / "out.dat").string();
  WriteDataFile(out, table, FileFormat::Unknown);
  DataTable again = ReadDataFile(out, FileFormat::DataSet);
  EXPECT_EQ(again.data->GetNumRows(), table.data->GetNumRows());
  const std::string written = Read(out);

  // A writer that fails half-way leaves the earlier file and no temporary file.
  EXPECT_THROW(WriteAtomically(out,
                               [](std::ostream& stream) {
                                 stream << "partial";
                                 throw RunError{"x", "stop"};
                               }),
               RunError);
  EXPECT_EQ(Read(out), written);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);

  try {
    ReadDataFile(Write("bad.dat", "[DataSet] [Inputs = 2] [Rows = 1] [Data] 1 ]"), FileFormat::Unknown);
    FAIL();
  } catch (const RunError& e) {
    EXPECT_EQ(e.file, (dir_ / "bad.dat").string());
    EXPECT_FALSE(e.reason.empty());
  }
  try {
    WriteDataFile((dir_ / "no/such/dir.dat").string(), table, FileFormat::Unknown);
    FAIL();
  } catch (const RunError& e) {
    EXPECT_EQ(e.reason, "cannot create: No such file or directory");
  }
}

TEST_F(DataFilesTest, LabelWeightsThatCsvAndSomPakDataDropAreCounted) {
  const std::string in = Write("in.dat",
                               "[DataSet] [Rows = 3] [Inputs = 1] [ExpectedOutputs = Labels] [Data]\n"
                               "1 [a=2.5]\n2 [b]\n3 [c=0.5 d]\n[~Data] [~DataSet]\n");
  const DataTable table = ReadDataFile(in, FileFormat::Unknown);
  const std::string lost = ": warning: 2 rows have label weights other than 1; the weights are not written";
  std::vector<std::string> warnings;
  WriteDataFile(Path("out.csv"), table, FileFormat::Unknown, {}, &warnings);
  const std::string several = ": warning: 1 row has several labels; the label column holds the heaviest of each";
  EXPECT_EQ(warnings, (std::vector<std::string>{Path("out.csv") + several, Path("out.csv") + lost}));
  warnings.clear();
  WriteDataFile(Path("out.txt"), table, FileFormat::SomPakData, {}, &warnings);
  EXPECT_EQ(warnings, std::vector<std::string>{Path("out.txt") + lost});
  EXPECT_EQ(Read(Path("out.txt")), "1\n1 a\n2 b\n3 d c\n");  // heaviest first
  // A data set file keeps the weights and says nothing.
  warnings.clear();
  WriteDataFile(Path("out.dat"), table, FileFormat::Unknown, {}, &warnings);
  EXPECT_EQ(warnings, std::vector<std::string>{});
}

TEST_F(DataFilesTest, MapsFromNetworkFilesMustBeKohonenMaps) {
  const std::string dir = std::string(MAPSMITH_TEST_DATA) + "/networkfile/good/";
  std::unique_ptr<TKohonenNetwork> map = ReadMapFile(dir + "kohonen_example.net");
  ASSERT_NE(map, nullptr);
  const std::string out = (dir_ / "copy.net").string();
  WriteMapFile(out, *map);
  const std::string again = (dir_ / "again.net").string();
  WriteMapFile(again, *ReadMapFile(out, FileFormat::Network));
  EXPECT_EQ(Read(again), Read(out));
  EXPECT_NE(Read(out).find("[NetworkType = Kohonen]"), std::string::npos);
  try {
    ReadMapFile(dir + "basic_mixed.net");
    FAIL();
  } catch (const RunError& e) {
    EXPECT_EQ(e.reason, "Not a Kohonen network");
  }
}

TEST_F(DataFilesTest, EveryFormatReadsThroughOneEntryWithItsWarningsNamingTheFile) {
  const std::string csv = Write("in.csv", "x;kind\n1;a\n2;\n");
  CsvOptions options;
  options.labelColumn = "kind";
  DataTable table = ReadDataFile(csv, FileFormat::Unknown, options);
  EXPECT_EQ(table.columnNames, (std::vector<std::string>{"x"}));
  EXPECT_EQ(table.labelName, "kind");
  EXPECT_EQ(table.warnings, (std::vector<std::string>{csv + ": warning: 1 row has an empty label cell and no label"}));
  std::ostringstream err;
  PrintWarnings("MapsmithToy", table.warnings, err);
  EXPECT_EQ(err.str(), "MapsmithToy: " + table.warnings[0] + "\n");

  const std::string sompak = Write("in.txt", "1\n5 weight=2\n");
  EXPECT_EQ(ReadDataFile(sompak, FileFormat::Unknown).warnings,
            (std::vector<std::string>{sompak + ": warning: 1 row carries weight= or fixed= qualifiers, which are ignored"}));
  const std::string codebook = Write("in.cod", "1 rect 1 1 gaussian\n0.5 lab\n");
  std::vector<std::string> warnings;
  std::unique_ptr<TKohonenNetwork> map = ReadMapFile(codebook, FileFormat::Unknown, &warnings);
  EXPECT_EQ(warnings, (std::vector<std::string>{codebook + ": warning: 1 unit carries labels, which are ignored"}));
  EXPECT_EQ(ReadMapFile(codebook)->numDimensions, 1);

  auto reason = [](const std::function<void()>& work) {
    try {
      work();
    } catch (const RunError& e) {
      return e.file + ": " + e.reason;
    }
    return std::string("(done)");
  };
  EXPECT_EQ(reason([&] { ReadDataFile(codebook, FileFormat::Unknown); }), codebook + ": is a map, not a data set");
  const std::string notAMap = ": not a map (a network file or SOM_PAK codebook); ";
  EXPECT_EQ(reason([&] { ReadMapFile(csv); }), csv + notAMap + "its content reads as CSV");
  const std::string somPakData = Write("data.txt", "2\n1 2\n");
  EXPECT_EQ(reason([&] { ReadMapFile(somPakData); }),
            somPakData + notAMap + "its content reads as a SOM_PAK data file");
  EXPECT_EQ(reason([&] { ReadMapFile(somPakData, FileFormat::DataSet); }),
            somPakData + notAMap + "it was given as a data set file");
  EXPECT_EQ(reason([&] { ReadDataFile(dir_.string(), FileFormat::Csv); }), dir_.string() + ": is a directory");
  EXPECT_EQ(reason([&] { ReadMapFile(dir_.string(), FileFormat::Network); }), dir_.string() + ": is a directory");
  EXPECT_EQ(reason([&] { WriteDataFile((dir_ / "m.cod").string(), table, FileFormat::Unknown); }),
            (dir_ / "m.cod").string() + ": a data set cannot be written as a map");
  EXPECT_EQ(reason([&] { WriteMapFile((dir_ / "m.csv").string(), *map); }),
            (dir_ / "m.csv").string() + ": a map cannot be written as a data set");
}

}  // namespace

namespace {

TEST(DataInputOptionsTest, TheSharedOptionsChooseFormatAndCsvReading) {
  const ToolDescription tool{"MapsmithToy", "[OPTION]...", "", DataInputOptions(), 0, 0};
  auto parse = [&](std::vector<const char*> args) {
    args.insert(args.begin(), "MapsmithToy");
    OptionParser parser(tool);
    return DataInputFrom(parser.Parse(static_cast<int>(args.size()), args.data()));
  };
  DataInputChoice choice = parse({"--from=csv", "--separator=tab", "--no-header", "--label-column=3"});
  EXPECT_EQ(choice.format, FileFormat::Csv);
  EXPECT_EQ(choice.csv.separator, '\t');
  EXPECT_EQ(choice.csv.header, 0);
  EXPECT_EQ(choice.csv.labelColumn, "3");
  choice = parse({});
  EXPECT_EQ(choice.format, FileFormat::Unknown);
  EXPECT_EQ(choice.csv.separator, 0);
  EXPECT_EQ(choice.csv.header, -1);
  EXPECT_EQ(parse({"--separator=;"}).csv.separator, ';');
  EXPECT_THROW(parse({"--header", "--no-header"}), UsageError);
  EXPECT_THROW(parse({"--separator=|"}), UsageError);
  EXPECT_THROW(parse({"--from=xml"}), UsageError);
  EXPECT_THROW(parse({"--label-column=00"}), UsageError);
  EXPECT_THROW(parse({"--label-column="}), UsageError);
  EXPECT_THROW(parse({"--label-column=name", "--no-header"}), UsageError);
  EXPECT_EQ(parse({"--label-column=2", "--no-header"}).csv.labelColumn, "2");
}

}  // namespace
