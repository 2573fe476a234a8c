// MapsmithLabel through its entry (as main() calls it) and as its binary: the
// labelled map and labelled rows against expected files, data that does not
// fit, usage errors and run-time failures with their whole messages.
#include "Kohonen/Label/MapsmithLabel.h"
#include "tests/ToolRun.h"

namespace {

using tooltest::Outcome;
using tooltest::Read;

class MapsmithLabelTest : public tooltest::ToolTest {
 protected:
  static Outcome Label(const std::vector<std::string>& args) { return Run(RunMapsmithLabel, "MapsmithLabel", args); }
  static void ExpectUsageError(const std::vector<std::string>& args, const std::string& message) {
    const Outcome o = Label(args);
    EXPECT_EQ(o.status, 2) << message;
    EXPECT_EQ(o.out, "") << message;
    EXPECT_EQ(o.err, "MapsmithLabel: " + message + "\nTry 'MapsmithLabel --help'.\n");
  }
  static void ExpectFailure(const std::vector<std::string>& args, const std::string& file, const std::string& reason) {
    const Outcome o = Label(args);
    EXPECT_EQ(o.status, 1) << reason;
    EXPECT_EQ(o.out, "") << reason;
    EXPECT_EQ(o.err, "MapsmithLabel: " + file + ": " + reason + "\n");
  }

  const std::string map_ = Data("grid-2x3.net");
  const std::string labelled_ = Data("labelled.dat");
  const std::string rows_ = Data("rows.dat");
};

TEST_F(MapsmithLabelTest, TheLabelledMapAndLabelledRowsMatchTheirExpectedFiles) {
  // Neurons that win no labelled row get an empty list; a row without labels
  // adds nothing; a second label on a row is not counted.
  Outcome o = Label({"--map", map_, "--data", labelled_});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out, Read(Data("expected-labelled-map.dat")));

  o = Label({"-m", map_, "-d", labelled_, "-o", Path("map.dat")});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(Read(Path("map.dat")), Read(Data("expected-labelled-map.dat")));

  o = Label({"-m", map_, "-d", labelled_, "--rows", rows_});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, Read(Data("expected-labelled-rows.dat")));
  // Rows that carry labels of their own get their winners' labels instead.
  o = Label({"-m", map_, "-d", labelled_, "-r", labelled_, "--out=" + Path("rows.dat")});
  EXPECT_EQ(o.status, 0) << o.err;
  const std::string text = Read(Path("rows.dat"));
  EXPECT_NE(text.find("-2 1   [a=2.000000000 ] \n"), std::string::npos) << text;
  EXPECT_NE(text.find("12 -3   [] \n"), std::string::npos) << text;

  // --inputs takes the first columns of both files.
  const std::string wideLabelled = Write("wide-labelled.dat",
                                         "[DataSet] [Rows = 2] [Inputs = 3] [ExpectedOutputs = Labels] [Data]"
                                         " 1 2 0 [a] 11 19 0 [c] [~Data] [~DataSet]");
  o = Label({"-m", map_, "-d", wideLabelled, "-r", Data("wide.dat"), "--inputs", "2", "--to", "dataset"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("[Inputs = 2]\n[ExpectedOutputs = Labels]\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("9 22.25   [c ] \n"), std::string::npos) << o.out;
}

TEST_F(MapsmithLabelTest, CsvLabelColumnsLabelTheMapAndAreWrittenBack) {
  // labelled.csv holds labelled.dat's rows with weights 1 and one empty label.
  const std::string labelled = Data("labelled.csv");
  Outcome o = Label({"-m", map_, "-d", labelled, "--label-column", "kind", "-o", Path("map.csv")});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Read(Path("map.csv")), Read(Data("expected-labelled-map.csv")));
  EXPECT_EQ(o.err, "MapsmithLabel: " + labelled + ": warning: 1 row has an empty label cell and no label\n" +
                       "MapsmithLabel: " + Path("map.csv") +
                       ": warning: 1 row has several labels; the label column holds the heaviest of each\n" +
                       "MapsmithLabel: " + Path("map.csv") +
                       ": warning: 2 rows have label weights other than 1; the weights are not written\n");

  o = Label({"-m", map_, "-d", labelled, "--label-column=2", "-r", Data("rows.csv"), "-o", Path("rows.csv")});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Read(Path("rows.csv")), Read(Data("expected-labelled-rows.csv")));

  // Rows with a label column of their own: not an input, and relabelled.
  o = Label(
      {"-m", map_, "-d", labelled, "--label-column=kind", "-r", labelled, "--rows-label-column=kind", "--to=csv"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("\n-2,1,a\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("\n6,16,c\n"), std::string::npos) << o.out;
  // --label-column is LABELLED's alone.
  o = Label({"-m", map_, "-d", labelled, "--label-column=kind", "-r", labelled});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "MapsmithLabel: " + labelled + ": warning: 1 row has an empty label cell and no label\n" +
                       "MapsmithLabel: " + labelled + ": line 2, column 2 (kind): 'a' is not a number\n");
  ExpectUsageError({"-m", map_, "-d", labelled, "--rows-label-column=0"},
                   "option --rows-label-column expects a column name or a number from 1, not '0'");
}

TEST_F(MapsmithLabelTest, BothDataFilesMustFitTheMapAndTheLabelledOneCarryLabels) {
  ExpectFailure({"-m", map_, "-d", rows_}, rows_, "the rows carry no labels");
  const std::string narrow = Data("narrow.dat");
  ExpectFailure({"-m", map_, "-d", labelled_, "-r", narrow}, narrow, "1 input column, fewer than the map's 2 inputs");
  ExpectFailure({"-m", map_, "-d", labelled_, "-r", Data("wide.dat")}, Data("wide.dat"),
                "3 input columns, more than the map's 2 inputs (--inputs 2 uses the first 2)");
  ExpectFailure({"-m", map_, "-d", labelled_, "-r", Data("infinite.dat")}, Data("infinite.dat"),
                "row 3, column 2: not a finite number");
  const std::string nan = Write("nan.dat",
                                "[DataSet] [Rows = 1] [Inputs = 2] [ExpectedOutputs = Labels] [Data]"
                                " nan 1 [a] [~Data] [~DataSet]");
  ExpectFailure({"-m", map_, "-d", nan}, nan, "row 1, column 1: not a finite number");
  ExpectFailure({"-m", map_, "-d", labelled_, "--inputs=3"}, map_, "the map has 2 inputs, not 3 as --inputs says");
}

TEST_F(MapsmithLabelTest, UsageErrorsAndRunTimeFailures) {
  const std::string missing = Path("missing.dat");
  const std::vector<std::pair<std::vector<std::string>, std::string>> usage = {
      {{"-d", labelled_}, "option --map is required"},
      {{"-m", map_, "-r", rows_}, "option --data is required"},
      {{"-m", map_, "-d", labelled_, "-r"}, "option -r needs a value"},
      {{"-m", missing, "-d", missing, "-o", "labels.net"},
       "option --out 'labels.net' names a map file; give --to for a data file"},
      {{"-m", map_, "-d", labelled_, "-r", rows_, "-o", rows_}, "option --out '" + rows_ + "' is also an input"},
      {{"-m", map_, "-d", labelled_, "-o", labelled_}, "option --out '" + labelled_ + "' is also an input"},
      {{"-m", missing, "-d", missing, "--to=codebook"},
       "option --to expects one of dataset, csv, sompak, not 'codebook'"},
      {{"-m", missing, "-d", missing, "--inputs=-1"}, "option --inputs must be between 1 and 2147483647, not '-1'"},
      {{"-m", missing, "-d", missing, "--quality"}, "unknown option '--quality'"},
      {{"-m", missing, "-d", missing, "x", "y"}, "extra operand 'x'"},
  };
  for (const auto& [args, message] : usage) ExpectUsageError(args, message);

  const std::string out = Write("out.dat", "earlier output\n");
  const std::string malformed = Write("malformed.dat",
                                      "[DataSet] [Inputs = 2] [Rows = 1] [ExpectedOutputs = Labels]"
                                      " [Data] 1 2 red ]");
  const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> failures = {
      {{"-m", Path("missing.net"), "-d", labelled_}, Path("missing.net"), "cannot open: No such file or directory"},
      {{"-m", map_, "-d", missing}, missing, "cannot open: No such file or directory"},
      {{"-m", map_, "-d", labelled_, "-r", missing}, missing, "cannot open: No such file or directory"},
      {{"-m", Data("no-neurons.net"), "-d", labelled_}, Data("no-neurons.net"), "Map layer has no neurons"},
      {{"-m", map_, "-d", malformed}, malformed, "Label list expected"},
      {{"-m", map_, "-d", labelled_, "-r", map_}, map_, "is a map, not a data set"},
      {{"-m", rows_, "-d", labelled_},
       rows_,
       "not a map (a network file or SOM_PAK codebook); its content reads as a data set file"},
  };
  for (auto [args, file, reason] : failures) {
    args.insert(args.end(), {"-o", out});
    ExpectFailure(args, file, reason);
    EXPECT_EQ(Read(out), "earlier output\n") << reason;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()), 2);
}

TEST_F(MapsmithLabelTest, HelpListsEveryOptionOfTheManualPageAndTheBinaryRuns) {
  const Outcome version = Label({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "MapsmithLabel " MAPSMITH_VERSION "\n");
  const Outcome help = Label({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(tooltest::OptionsWithoutDefault(help.out), std::set<std::string>{});
  const std::string manual = Read(std::string(MAPSMITH_TEST_DATA) + "/../../docs/MapsmithLabel.1");
  ASSERT_FALSE(manual.empty());
  EXPECT_EQ(tooltest::LongOptions(manual), tooltest::LongOptions(help.out));

  const Outcome o = RunBinary("MapsmithLabel", "-m '" + map_ + "' -d '" + labelled_ + "' -r '" + rows_ + "'");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, Read(Data("expected-labelled-rows.dat")));
}

}  // namespace
