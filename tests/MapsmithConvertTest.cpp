#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "Kohonen/Common/CommandLine.h"
#include "Kohonen/Common/DataFiles.h"
#include "Kohonen/Convert/MapsmithConvert.h"
#include "NeuralNets/Random.h"
#include "tests/ToolRun.h"

namespace fs = std::filesystem;

namespace {

const std::string kExamples = std::string(MAPSMITH_TEST_DATA) + "/../../examples/convert/";

using mapsmith::FileFormat;
using mapsmith::ReadDataFile;
using mapsmith::RunError;
using mapsmith::WriteDataFile;
using tooltest::Outcome;
using tooltest::Read;

std::string Usage(const std::string& line) {
  return "MapsmithConvert: " + line + "\nTry 'MapsmithConvert --help'.\n";
}

class MapsmithConvertTest : public tooltest::ToolTest {
 protected:
  static Outcome Run(const std::vector<std::string>& args) {
    return ToolTest::Run(RunMapsmithConvert, "MapsmithConvert", args);
  }
  // Runs a command that must fail, and checks that `output`, made beforehand,
  // is exactly as it was.
  Outcome RunFailing(std::vector<std::string> args, const std::string& output) {
    Write(output, "old contents\n");
    Outcome r = Run(std::move(args));
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(Read(Path(output)), "old contents\n");
    return r;
  }
};

TEST_F(MapsmithConvertTest, HelpAndVersion) {
  Outcome r = Run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out.starts_with("Usage: MapsmithConvert [OPTION]... IN OUT\n")) << r.out;
  for (const char* option : {"--from=FORMAT", "--separator=C", "--header", "--no-header", "--label-column=COLUMN",
                             "--to=FORMAT", "--output-separator=C", "--output-header", "--output-no-header",
                             "--scale=METHOD", "--scale-with=FILE", "--help", "--version"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
  EXPECT_EQ(tooltest::OptionsWithoutDefault(r.out), std::set<std::string>{});
  const std::string manual = Read(std::string(MAPSMITH_TEST_DATA) + "/../../docs/MapsmithConvert.1");
  ASSERT_FALSE(manual.empty());
  EXPECT_EQ(tooltest::LongOptions(manual), tooltest::LongOptions(r.out));
  r = Run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "MapsmithConvert " MAPSMITH_VERSION "\n");
}

TEST_F(MapsmithConvertTest, UsageErrorsExitTwoAndLeaveTheOutput) {
  const std::string in = Write("in.csv", "a,b\n1,2\n");
  const std::string out = Path("out.dat");
  const std::string map = Write("m.cod", "1 rect 1 1 gaussian\n0.5\n");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "missing IN and OUT operands"},
      {{in}, "missing OUT operand after '" + in + "'"},
      {{in, out, "third"}, "extra operand 'third'"},
      {{in, out, "--bogus"}, "unknown option '--bogus'"},
      {{in, out, "--to=xml"}, "option --to expects one of dataset, network, csv, sompak, codebook, not 'xml'"},
      {{in, out, "--from=xml"}, "option --from expects one of dataset, network, csv, sompak, codebook, not 'xml'"},
      {{in, out, "--separator=|"}, "option --separator expects one of ,, ;, tab, \t, not '|'"},
      {{in, out, "--output-separator=|"}, "option --output-separator expects one of ,, ;, tab, \t, not '|'"},
      {{in, out, "--header", "--no-header"}, "options --header and --no-header exclude each other"},
      {{in, out, "--output-header", "--output-no-header"},
       "options --output-header and --output-no-header exclude each other"},
      {{in, out, "--label-column=0"}, "option --label-column expects a column name or a number from 1, not '0'"},
      {{in, out, "--label-column=b", "--no-header"},
       "option --label-column names a column, but --no-header says there are no names"},
      {{in, out, "--scale=minmax"}, "option --scale expects one of zscore, range, not 'minmax'"},
      {{in, out, "--scale=range", "--scale-with=x.scale"}, "options --scale and --scale-with exclude each other"},
      {{in, out, "--scale"}, "option --scale needs a value"},
      {{in, in}, "output '" + in + "' is also an input"},
      {{in, out, "--scale-with=" + out}, "output '" + out + "' is also an input"},
      {{map, out, "--scale=zscore", "--to=codebook"},
       "options --scale and --scale-with apply to data sets, and '" + map + "' holds a map"},
  };
  for (const auto& [args, message] : cases) {
    Outcome r = RunFailing(args, "out.dat");
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_EQ(r.err, Usage(message));
    EXPECT_EQ(r.out, "");
  }
  // The same file under another name, and a scale file that would overwrite the input.
  ASSERT_EQ(::link(in.c_str(), Path("hard.csv").c_str()), 0);
  EXPECT_EQ(Run({in, Path("hard.csv")}).err, Usage("output '" + Path("hard.csv") + "' is also an input"));
  const std::string scaleIn = Write("x.scale", "1,2\n3,4\n");
  EXPECT_EQ(Run({scaleIn, Path("x"), "--scale=range"}).err,
            Usage("scale file '" + Path("x.scale") + "' is also an input"));
}

TEST_F(MapsmithConvertTest, RunTimeFailuresExitOneNameTheFileAndLeaveTheOutput) {
  const std::string csv = Write("in.csv", "a,b\n1,2\n3,x\n");
  const std::string good = Write("good.csv", "a,b\n1,2\n3,4\n");
  const std::string map = Write("m.cod", "1 rect 2 1 gaussian\n0.5 lab\n1\n");
  const std::string scale = Write("s.scale", "[DataSet] [Rows = 1] [Inputs = 3] [Data] 1 2 3 [~Data] [~DataSet]");
  const std::string out = Path("out.dat");
  Write("bad.scale", "[DataSet] [Rows = 1] [Inputs = 2] [Data] 0 1 [~Data] [~DataSet]");
  struct Case {
    std::vector<std::string> args;
    std::string target;  // the output file, made beforehand
    std::string message;
  };
  const std::vector<Case> cases = {
      {{Path("missing.csv"), out}, "out.dat", Path("missing.csv") + ": cannot open: No such file or directory"},
      {{dir_.string(), out}, "out.dat", dir_.string() + ": is a directory"},
      {{csv, out}, "out.dat", csv + ": line 3, column 2 (b): 'x' is not a number"},
      {{good, out, "--label-column=c"}, "out.dat", good + ": no column of line 1 is named 'c'"},
      {{map, out}, "out.dat", out + ": a map cannot be written as a data set"},
      {{map, Path("x.csv")}, "x.csv", Path("x.csv") + ": a map cannot be written as a data set"},
      {{good, Path("out.net")}, "out.net", Path("out.net") + ": a data set cannot be written as a map"},
      {{good, out, "--to=codebook"}, "out.dat", out + ": a data set cannot be written as a map"},
      {{good, out, "--scale-with=" + Path("none.scale")},
       "out.dat",
       Path("none.scale") + ": cannot open: No such file or directory"},
      {{good, out, "--scale-with=" + scale},
       "out.dat",
       scale + ": not a scale file: it must hold one row per column with two numbers, offset and divisor"},
      {{good, out, "--scale-with=" + Path("bad.scale")},
       "out.dat",
       good + ": the scale file holds factors for 1 columns; the data has 2"},
      {{Write("blank.csv", "a,kind\n1,dark red\n"), out, "--label-column=kind"},
       "out.dat",
       out + ": row 1: the label 'dark red' cannot be written to a data set file (a label is one word without blanks, "
             "commas or any of []/*=<>)"},
      {{Write("hexa.cod", "2 hexa 2 2 gaussian\n"), Path("out.net")},
       "out.net",
       Path("hexa.cod") + ": line 1: hexagonal (hexa) codebooks are not supported; maps here are rectangular grids"},
      {{Write("cube.net", Read(kExamples + "expected-colors.net")), Path("out.cod"), "--to=sompak"},
       "out.cod",
       Path("out.cod") + ": a map cannot be written as a data set"},
  };
  for (const Case& c : cases) {
    Outcome r = RunFailing(c.args, c.target);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.err, "MapsmithConvert: " + c.message + "\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(Run({good, Path("no/such/dir.dat")}).err,
            "MapsmithConvert: " + Path("no/such/dir.dat") + ": cannot create: No such file or directory\n");
  // A failed scaled run leaves both the output and its scale file.
  Write("out.dat.scale", "old scale\n");
  RunFailing({csv, out, "--scale=range"}, "out.dat");
  EXPECT_EQ(Read(Path("out.dat.scale")), "old scale\n");
  for (const auto& entry : fs::directory_iterator(dir_))  // no temporary file left behind
    EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
}

TEST_F(MapsmithConvertTest, AScaledRunWhoseLastStepFailsLeavesDataAndScaleFileAsTheyWere) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const std::string in = Write("in.csv", "a,b\n1,2\n3,5\n");
  // The data, written last, goes to a full device: the new scale file,
  // already in place, must give way to the old one again.
  fs::create_symlink("/dev/full", Path("full.csv"));
  Write("full.csv.scale", "old scale\n");
  Outcome r = Run({in, Path("full.csv"), "--scale=range"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "MapsmithConvert: " + Path("full.csv") + ": cannot write: No space left on device\n");
  EXPECT_EQ(Read(Path("full.csv.scale")), "old scale\n");
  // Where there was no scale file, none is left.
  fs::create_symlink("/dev/full", Path("new.csv"));
  EXPECT_EQ(Run({in, Path("new.csv"), "--scale=range"}).status, 1);
  EXPECT_FALSE(fs::exists(Path("new.csv.scale")));
  // A scale file that cannot be written leaves the old data.
  Write("data.csv", "old data\n");
  fs::create_symlink("/dev/full", Path("data.csv.scale"));
  r = Run({in, Path("data.csv"), "--scale=range"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "MapsmithConvert: " + Path("data.csv.scale") + ": cannot write: No space left on device\n");
  EXPECT_EQ(Read(Path("data.csv")), "old data\n");
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"in.csv", "full.csv", "full.csv.scale", "new.csv", "data.csv",
                                          "data.csv.scale"}));
  // And a run that succeeds replaces both and leaves nothing else.
  ASSERT_EQ(Run({in, Path("ok.csv"), "--scale=range"}).status, 0);
  Write("ok.csv.scale", "old scale\n");
  ASSERT_EQ(Run({in, Path("ok.csv"), "--scale=range"}).status, 0);
  EXPECT_NE(Read(Path("ok.csv.scale")), "old scale\n");
  EXPECT_EQ(Read(Path("ok.csv")), "a,b\n0,0\n1,1\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 8);
  const std::string manual = Read(std::string(MAPSMITH_TEST_DATA) + "/../../docs/MapsmithConvert.1");
  EXPECT_NE(manual.find("and its scale file are replaced together: a run that fails leaves both as\nthey were."),
            std::string::npos);
}

// The README's commands, run as written in a copy of examples/convert/: each
// file they write equals the example's expected-<file>, and a command on a
// bad-<name> file fails with status 1 and the message of expected-bad-<name>.txt.
TEST_F(MapsmithConvertTest, TheReadmeCommandsGiveTheExpectedFiles) {
  for (const auto& entry : fs::directory_iterator(kExamples)) fs::copy(entry.path(), dir_ / entry.path().filename());
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  std::istringstream readme(Read(kExamples + "../../README.md"));
  int commands = 0;
  for (std::string line; std::getline(readme, line);) {
    if (!line.starts_with("    MapsmithConvert ")) continue;
    std::istringstream words(line);
    std::vector<std::string> args;
    for (std::string w; words >> w;) args.push_back(w);
    args.erase(args.begin());
    const Outcome r = Run(args);
    ++commands;
    if (args[0].starts_with("bad-")) {
      EXPECT_EQ(r.status, 1) << line;
      EXPECT_EQ(r.err, Read("expected-" + args[0].substr(0, args[0].find('.')) + ".txt")) << line;
    } else {
      EXPECT_EQ(r.status, 0) << line << "\n" << r.err;
      EXPECT_EQ(Read(args[1]), Read("expected-" + args[1])) << line;
    }
  }
  EXPECT_EQ(Read("scaled.csv.scale"), Read("expected-scaled.csv.scale"));
  fs::current_path(before);
  EXPECT_EQ(commands, 6);
}

TEST_F(MapsmithConvertTest, OutputsMatchTheExpectedFiles) {
  // A data set file to CSV with made-up names.
  Outcome r = Run({kExamples + "expected-flowers.dat", Path("flowers.csv"), "--output-header"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read(Path("flowers.csv")),
            "x1,x2,x3,label\n5.1,3.5,1.4,setosa\n4.9,3,1.4,setosa\n4.7,3.2,1.3,setosa\n7,3.2,4.7,versicolor\n"
            "6.4,3.2,4.5,versicolor\n5.7,2.8,4.1,versicolor\n6.3,3.3,6,virginica\n5.8,2.7,5.1,virginica\n"
            "7.1,3,5.9,virginica\n");
  // The label column by number; --scale-with writes no scale file.
  r = Run({kExamples + "flowers.csv", Path("again.csv"), "--label-column=4", "--scale-with",
           kExamples + "expected-scaled.csv.scale"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read(Path("again.csv")), Read(kExamples + "expected-scaled.csv"));
  EXPECT_FALSE(fs::exists(Path("again.csv.scale")));

  // A constant column is left alone and said once; separators and headers of
  // the output; --to over the extension; --from over the content.
  const std::string constant = Write("c.txt", "x;y\n1;5\n3;5\n");
  r = Run({constant, Path("c.out"), "--scale=range", "--to=csv", "--output-separator=tab", "--output-no-header"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "MapsmithConvert: " + constant + ": column 2 is constant and left as it is\n");
  EXPECT_EQ(Read(Path("c.out")), "0\t5\n1\t5\n");
  const std::string numbers = Write("n.dat", "3\n4\n5\n");  // one number on line 1: a SOM_PAK file by content
  r = Run({numbers, Path("n.csv"), "--from=csv", "--output-separator=;"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read(Path("n.csv")), "3\n4\n5\n");
  r = Run({Write("two.csv", "1\t2\n3\t4\n"), Path("two.csv.out"), "--separator=tab", "--no-header", "--to", "csv",
           "--output-separator", ";"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read(Path("two.csv.out")), "1;2\n3;4\n");

  // SOM_PAK data: qualifiers warned about, labels kept, #n names carried to CSV.
  const std::string sompak = Write("d.txt", "2\n#n u v\n1 2 a weight=2\n3 4\n5 6 b fixed=0,1\n");
  r = Run({sompak, Path("d.csv")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "MapsmithConvert: " + sompak + ": warning: 2 rows carry weight= or fixed= qualifiers, which are ignored\n");
  EXPECT_EQ(Read(Path("d.csv")), "u,v,label\n1,2,a\n3,4,\n5,6,b\n");
  r = Run({Path("d.csv"), Path("d2.txt"), "--label-column=label", "--to=sompak"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "MapsmithConvert: " + Path("d.csv") + ": warning: 1 row has an empty label cell and no label\n");
  EXPECT_EQ(Read(Path("d2.txt")), "2\n#n u v\n1 2 a\n3 4\n5 6 b\n");

  // A label's weight cannot be written to CSV: said, not dropped silently.
  const std::string weighted =
      Write("w.dat", "[DataSet] [Rows = 1] [Inputs = 1] [ExpectedOutputs = Labels] [Data] 7 [a=2.5] [~Data] [~DataSet]");
  r = Run({weighted, Path("w.csv")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "MapsmithConvert: " + Path("w.csv") +
                       ": warning: 1 row has label weights other than 1; the weights are not written\n");
  EXPECT_EQ(Read(Path("w.csv")), "7,a\n");
  const std::string manual = Read(std::string(MAPSMITH_TEST_DATA) + "/../../docs/MapsmithConvert.1");
  for (const char* words : {"an empty cell. Label weights are not written: rows whose",
                            "labels are written heaviest first): rows whose labels weigh other than 1 are"})
    EXPECT_NE(manual.find(words), std::string::npos) << words;

  // A codebook's labels are ignored with a warning.
  r = Run({kExamples + "colors.cod", Path("colors.net")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "MapsmithConvert: " + kExamples + "colors.cod: warning: 4 units carry labels, which are ignored\n");
}

// A CSV file becomes a data set file row by row; the file must be the one the
// whole set read and written gives, and a refusal must be the same too.
TEST_F(MapsmithConvertTest, CsvConvertedRowByRowIsTheWholeSetsFile) {
  const auto wholeSet = [&](const std::string& csv) {
    const std::string path = Path("whole.dat");
    WriteDataFile(path, ReadDataFile(csv, FileFormat::Csv, {}), FileFormat::DataSet);
    return Read(path);
  };
  // Many rows of many columns: the rows go out in several parts.
  std::mt19937_64 random(11);
  std::string large;
  for (int c = 0; c < 300; ++c) large += (c > 0 ? ",c" : "c") + std::to_string(c);
  large += "\n";
  for (int r = 0; r < 400; ++r) {
    for (int c = 0; c < 300; ++c) {
      const double value = std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 120) - 100);
      std::ostringstream cell;
      cell.precision(static_cast<int>(random() % 18) + 1);
      cell << (random() % 2 == 0 ? value : -value);
      if (c > 0) large += ',';
      const bool quoted = random() % 50 == 0;  // read by the general cell splitter
      if (quoted) large += '"';
      large += cell.str();
      if (quoted) large += '"';
    }
    large += r % 7 == 0 ? "\r\n" : "\n";
  }
  const std::vector<std::pair<std::string, std::string>> files = {
      {"header.csv", "a,b,c\n1,2,3\n4.5,-6e-3,+7\n"},
      {"plain.csv", "1,2\n3,4\n"},
      {"odd.csv", "\xEF\xBB\xBFx;\"y\ny\"\r\n\n 1 ;\"2\"\r\n\n3;4\n"},
      {"tabs.csv", "0.1\t0.2\t0.3\n"},
      {"large.csv", large},
  };
  for (const auto& [name, text] : files) {
    const std::string csv = Write(name, text);
    ASSERT_TRUE(mapsmith::ConvertCsvFileAsRead(csv, {}, Path("rows.dat"))) << name;
    EXPECT_EQ(Read(Path("rows.dat")), wholeSet(csv)) << name;
    const Outcome r = Run({csv, Path("tool.dat")});
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Read(Path("tool.dat")), Read(Path("rows.dat"))) << name;
  }
  // What it leaves to the whole set, with the output untouched: a label
  // column, a header without rows, a file that cannot be read twice.
  mapsmith::CsvOptions labelled;
  labelled.labelColumn = "1";
  Write("kept.dat", "kept\n");
  EXPECT_FALSE(mapsmith::ConvertCsvFileAsRead(Path("plain.csv"), labelled, Path("kept.dat")));
  EXPECT_FALSE(mapsmith::ConvertCsvFileAsRead(Write("names.csv", "a,b\n"), {}, Path("kept.dat")));
  EXPECT_FALSE(mapsmith::ConvertCsvFileAsRead("/dev/null", {}, Path("kept.dat")));
  EXPECT_EQ(Read(Path("kept.dat")), "kept\n");

  // A fault in the last row, met after the other rows were written out.
  std::string lastBad = large;
  lastBad.replace(lastBad.rfind(',') + 1, std::string::npos, "NA\n");
  const std::string bad = Write("bad.csv", lastBad);
  std::string message;
  try {
    ReadDataFile(bad, FileFormat::Csv, {});
  } catch (const RunError& e) {
    message = "MapsmithConvert: " + e.file + ": " + e.reason + "\n";
  }
  ASSERT_NE(message.find("'NA' is not a number"), std::string::npos) << message;
  const Outcome r = RunFailing({bad, Path("old.dat")}, "old.dat");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, message);
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename().string().find(".old.dat"), std::string::npos) << entry.path();

}

TEST_F(MapsmithConvertTest, DataSetFileToCsvAndBackIsExact) {
  // Random values as a data set file holds them (15 digits), with labels.
  std::mt19937_64 random(5);
  ::Data set(500, 7, 0, true);
  double row[7];
  for (int r = 0; r < 500; ++r) {
    for (double& v : row) {
      const std::uint64_t bits = random();
      std::memcpy(&v, &bits, sizeof v);
      if (!(v == v) || v - v != 0) v = static_cast<double>(bits % 1000003) / 7.0;
    }
    std::string name = r % 5 == 0 ? "odd" : "c";
    if (r % 5 != 0) name += std::to_string(r % 3);
    const TLabelList label(name, 1.0);
    set.AddRow(row, nullptr, r % 7 == 0 ? nullptr : &label);
  }
  FileTools tools;
  ASSERT_EQ(WriteDataSetFile(tools, Path("a.dat"), &set, nullptr), SUCCESS);
  ASSERT_EQ(Run({Path("a.dat"), Path("a.csv")}).status, 0);
  ASSERT_EQ(Run({Path("a.csv"), Path("b.dat"), "--label-column=8"}).status, 0);
  EXPECT_EQ(Read(Path("b.dat")), Read(Path("a.dat")));
  // And through SOM_PAK.
  ASSERT_EQ(Run({Path("a.dat"), Path("a.txt"), "--to=sompak"}).status, 0);
  ASSERT_EQ(Run({Path("a.txt"), Path("c.dat")}).status, 0);
  EXPECT_EQ(Read(Path("c.dat")), Read(Path("a.dat")));
  // The library's labelled example set, whose labels carry weights: one label
  // per row survives, the heaviest.
  ASSERT_EQ(Run({std::string(MAPSMITH_TEST_DATA) + "/runs/labelled.dat", Path("l.csv")}).status, 0);
  EXPECT_EQ(Read(Path("l.csv")).substr(0, 36), "0.1,0.1,0.1,low\n0.15,0.05,0.2,low\n0.");
}

TEST_F(MapsmithConvertTest, NetworkFileToCodebookAndBackToFifteenDigits) {
  const int sizes[] = {4, 5};
  TKohonenNetwork map(3, 2, sizes);
  SeedRandom(99);
  map.Randomize(-3.0, 3.0);
  FileTools tools;
  SaveNetworkFile(tools, Path("m.net").c_str(), &map);
  ASSERT_EQ(Run({Path("m.net"), Path("m.cod")}).status, 0);
  ASSERT_EQ(Run({Path("m.cod"), Path("back.net")}).status, 0);
  EXPECT_EQ(Read(Path("back.net")), Read(Path("m.net")));
  // A one-dimensional map is xdim n, ydim 1, and comes back one-dimensional.
  const int line[] = {6};
  TKohonenNetwork strip(2, 1, line);
  strip.Randomize(0.0, 1.0);
  SaveNetworkFile(tools, Path("s.net").c_str(), &strip);
  ASSERT_EQ(Run({Path("s.net"), Path("s.cod")}).status, 0);
  EXPECT_TRUE(Read(Path("s.cod")).starts_with("2 rect 6 1 gaussian\n"));
  ASSERT_EQ(Run({Path("s.cod"), Path("s2.net")}).status, 0);
  EXPECT_EQ(Read(Path("s2.net")), Read(Path("s.net")));
  // A two-dimensional 1 x 6 map is written the same way, so it comes back
  // one-dimensional: said on standard error.
  const int flatSizes[] = {1, 6};
  TKohonenNetwork flat(2, 2, flatSizes);
  flat.Randomize(0.0, 1.0);
  SaveNetworkFile(tools, Path("f.net").c_str(), &flat);
  Outcome r = Run({Path("f.net"), Path("f.cod")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "MapsmithConvert: " + Path("f.cod") +
                       ": warning: the 1 x 6 map is written as xdim 6, ydim 1, which reads back as a one-dimensional "
                       "map of 6 neurons\n");
  EXPECT_TRUE(Read(Path("f.cod")).starts_with("2 rect 6 1 gaussian\n"));
  EXPECT_EQ(Run({Path("s.net"), Path("s3.cod")}).err, "");
  const std::string manual = Read(std::string(MAPSMITH_TEST_DATA) + "/../../docs/MapsmithConvert.1");
  EXPECT_NE(manual.find("comes back one-dimensional, which writing it says in a warning."), std::string::npos);
}

TEST_F(MapsmithConvertTest, APipedInputConvertsAsTheFileDoes) {
  // More than the 64 KiB that recognising IN looks at, through a pipe.
  std::string csv = "a,b\n";
  for (int r = 0; r < 20000; ++r) csv += std::to_string(r) + ",0.5\n";
  Write("big.csv", csv);
  ASSERT_EQ(Run({Path("big.csv"), Path("direct.dat")}).status, 0);
  const std::string command = "cd '" + dir_.string() + "' && cat big.csv | '" + MAPSMITH_TOOL_DIR +
                              "/MapsmithConvert' /dev/stdin piped.dat 2>stderr.txt";
  EXPECT_EQ(std::system(command.c_str()), 0) << Read(Path("stderr.txt"));
  EXPECT_EQ(Read(Path("stderr.txt")), "");
  EXPECT_TRUE(Read(Path("piped.dat")) == Read(Path("direct.dat"))) << "piped.dat differs from direct.dat";
  const std::string manual = Read(std::string(MAPSMITH_TEST_DATA) + "/../../docs/MapsmithConvert.1");
  EXPECT_NE(manual.find("may be a pipe, such as\n.BR /dev/stdin :\nit is opened once and read whole."),
            std::string::npos);
}

}  // namespace
