// MapsmithMap through its entry (as main() calls it) and as its binary: the
// outputs against expected files, data that does not fit the map, every usage
// error and run-time failure with its whole message and status.
#include "Kohonen/Map/MapsmithMap.h"

#include "FileHandler/NetworkFile.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "tests/ToolRun.h"

namespace {

using tooltest::Outcome;
using tooltest::Read;

class MapsmithMapTest : public tooltest::ToolTest {
 protected:
  static Outcome Map(const std::vector<std::string>& args) { return Run(RunMapsmithMap, "MapsmithMap", args); }

  static void ExpectUsageError(const std::vector<std::string>& args, const std::string& message) {
    const Outcome o = Map(args);
    std::string line;
    for (const std::string& a : args) line += a + " ";
    EXPECT_EQ(o.status, 2) << line;
    EXPECT_EQ(o.out, "") << line;
    EXPECT_EQ(o.err, "MapsmithMap: " + message + "\nTry 'MapsmithMap --help'.\n") << line;
  }
  static void ExpectFailure(const std::vector<std::string>& args, const std::string& file, const std::string& reason) {
    const Outcome o = Map(args);
    std::string line;
    for (const std::string& a : args) line += a + " ";
    EXPECT_EQ(o.status, 1) << line;
    EXPECT_EQ(o.out, "") << line;
    EXPECT_EQ(o.err, "MapsmithMap: " + file + ": " + reason + "\n") << line;
  }

  const std::string map_ = Data("grid-2x3.net");
  const std::string rows_ = Data("rows.dat");
};

TEST_F(MapsmithMapTest, EachOutputKindMatchesItsExpectedFile) {
  // Without --out the rows go to standard output as a data set file.
  Outcome o = Map({"--map", map_, "--data", rows_});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out, Read(Data("expected-coords.dat")));

  struct Case {
    std::vector<std::string> args;
    std::string output;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"-m", map_, "-d", rows_, "-o", Path("a.dat")}, "a.dat", "expected-coords.dat"},
      {{"--map=" + map_, "--data=" + rows_, "--out=" + Path("b.dat"), "--output=coords"},
       "b.dat",
       "expected-coords.dat"},
      {{"-m", map_, "-d", rows_, "-o", Path("c.txt"), "--output", "index"}, "c.txt", "expected-index.dat"},
      {{"-m", map_, "-d", rows_, "-o", Path("d"), "--output", "reconstruction"}, "d", "expected-reconstruction.dat"},
      {{"-m", map_, "-d", rows_, "-o", Path("e.csv"), "--to", "dataset"}, "e.csv", "expected-coords.dat"},
      {{"-m", map_, "-d", rows_, "-o", Path("f.net"), "--to=dataset", "--from=dataset"},
       "f.net",
       "expected-coords.dat"},
      // An existing output is replaced.
      {{"-m", map_, "-d", rows_, "-o", Path("a.dat"), "--output=index"}, "a.dat", "expected-index.dat"},
  };
  for (const Case& c : cases) {
    o = Map(c.args);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(Read(Path(c.output)), Read(Data(c.expected))) << c.output;
  }
  // Only the output remains beside the earlier ones: no temporary files.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()), 6);
}

TEST_F(MapsmithMapTest, CsvSomPakAndCodebookFilesAreReadAndWritten) {
  // A CSV header names the output's columns; the winner's values follow the inputs.
  Outcome o = Map({"-m", map_, "-d", Data("rows.csv"), "-o", Path("coords.csv")});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Read(Path("coords.csv")), Read(Data("expected-coords.csv")));
  o = Map({"-m", map_, "-d", Data("rows.csv"), "--to=csv", "--output=index"});
  EXPECT_EQ(o.out, "x,y,neuron\n1.5,2,0\n9,22.25,5\n4,11,1\n12,-3,3\n6,16,5\n");
  o = Map({"-m", map_, "-d", Data("rows.csv"), "--to=csv", "--output=reconstruction"});
  EXPECT_EQ(o.out, "x,y,winner_x,winner_y\n1.5,2,0,0\n9,22.25,10,20\n4,11,0,10\n12,-3,10,0\n6,16,10,20\n");
  // Without names, no header; SOM_PAK gets every column.
  o = Map({"-m", map_, "-d", rows_, "--to", "sompak"});
  EXPECT_EQ(o.out, "4\n1.5 2 0 0\n9 22.25 1 2\n4 11 0 1\n12 -3 1 0\n6 16 1 2\n");
  EXPECT_EQ(o.err, "");

  // The same rows from CSV without a header (';' found), SOM_PAK data, and
  // with the map as a codebook, give the same data set file.
  for (const auto& [map, data] : std::vector<std::pair<std::string, std::string>>{
           {map_, Data("rows-no-header.csv")}, {map_, Data("rows.sompak")}, {Data("grid-2x3.cod"), rows_}}) {
    o = Map({"-m", map, "-d", data});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, Read(Data("expected-coords.dat"))) << map << " " << data;
  }

  // A label column is no input; what the readers notice is printed, the run goes on.
  const std::string labelled = Data("labelled.csv");
  o = Map({"-m", map_, "-d", labelled, "--label-column=kind", "-q"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.rfind("rows 7\n", 0), 0u);
  EXPECT_EQ(o.err, "MapsmithMap: " + labelled + ": warning: 1 row has an empty label cell and no label\n");
  const std::string codebook = Write("labels.cod", "2 rect 3 2 bubble\n0 0 a\n0 10\n0 20\n10 0\n10 10\n10 20 b c\n");
  o = Map({"-m", codebook, "-d", rows_, "-q"});
  EXPECT_EQ(o.out, "rows 5\nquantization-error 3.66954512020461\ntopographic-error 0\n");
  EXPECT_EQ(o.err, "MapsmithMap: " + codebook + ": warning: 2 units carry labels, which are ignored\n");

  const std::string bad = Write("bad.csv", "x,y\n1,2\n3,NA\n");
  ExpectFailure({"-m", map_, "-d", bad}, bad, "line 3, column 2 (y): 'NA' is not a number");
}

TEST_F(MapsmithMapTest, DataMustFitTheMapsInputs) {
  const std::string wide = Data("wide.dat");
  ExpectFailure({"-m", map_, "-d", wide}, wide,
                "3 input columns, more than the map's 2 inputs (--inputs 2 uses the first 2)");
  Outcome o = Map({"-m", map_, "-d", wide, "--inputs", "2"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, Read(Data("expected-coords.dat")));
  ExpectFailure({"-m", map_, "-d", wide, "--inputs", "3"}, map_, "the map has 2 inputs, not 3 as --inputs says");
  ExpectFailure({"-m", map_, "-d", wide, "--inputs", "1"}, map_, "the map has 2 inputs, not 1 as --inputs says");

  const std::string narrow = Data("narrow.dat");
  ExpectFailure({"-m", map_, "-d", narrow}, narrow, "1 input column, fewer than the map's 2 inputs");
  ExpectFailure({"-m", map_, "-d", narrow, "--inputs=2"}, narrow, "1 input column, fewer than the map's 2 inputs");

  // Rows and columns are counted from 1; the first value that is not finite is named.
  const std::string infinite = Data("infinite.dat");
  ExpectFailure({"-m", map_, "-d", infinite}, infinite, "row 3, column 2: not a finite number");
  const std::string nan =
      Write("nan.dat", "[DataSet] [Rows = 2] [Inputs = 3] [Data] 1 2 3 4 -nan 6 [~Data] [~DataSet]");
  ExpectFailure({"-m", map_, "-d", nan}, nan,
                "3 input columns, more than the map's 2 inputs (--inputs 2 uses the first 2)");
  ExpectFailure({"-m", map_, "-d", nan, "--inputs=2"}, nan, "row 2, column 2: not a finite number");
  // A column that is not used may hold anything.
  const std::string unused = Write("unused.dat", "[DataSet] [Rows = 1] [Inputs = 3] [Data] 1 2 inf [~Data] [~DataSet]");
  EXPECT_EQ(Map({"-m", map_, "-d", unused, "--inputs=2"}).status, 0);
}

TEST_F(MapsmithMapTest, QualityIsPrintedAloneOrAfterTheRowsAreWritten) {
  // On the twisted map the row 2 has neurons 0 and 2 as its best two, which
  // are no neighbours; the row 9 has neighbours 1 and 2. Distances 2 and 1.
  const std::string twisted = Data("twisted-3.net");
  const std::string data = Write("two.dat", "[DataSet] [Rows = 2] [Inputs = 2] [Data] 2 0 9 0 [~Data] [~DataSet]");
  Outcome o = Map({"-m", twisted, "-d", data, "--inputs=1", "--quality"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out, "rows 2\nquantization-error 1.5\ntopographic-error 0.5\n");

  // With --out the rows are written as without --quality.
  o = Map({"-m", map_, "-d", rows_, "-q", "-o", Path("coords.dat")});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "rows 5\nquantization-error 3.66954512020461\ntopographic-error 0\n");
  EXPECT_EQ(Read(Path("coords.dat")), Read(Data("expected-coords.dat")));

  const std::string empty = Write("empty.dat", "[DataSet] [Rows = 0] [Inputs = 2] [Data] [~Data] [~DataSet]");
  o = Map({"-m", map_, "-d", empty, "-q"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "rows 0\nquantization-error 0\ntopographic-error 0\n");
  // A failed write prints no measures.
  o = Map({"-m", map_, "-d", rows_, "-q", "-o", Path("no/dir.dat")});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
}

TEST_F(MapsmithMapTest, UsageErrorsNameTheOptionAndComeBeforeAnyFileIsRead) {
  const std::string missing = Path("missing.dat");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "option --map is required"},
      {{"-m", map_}, "option --data is required"},
      {{"-m"}, "option -m needs a value"},
      {{"-m", missing, "-d", missing, "--output=xy"},
       "option --output expects one of coords, index, reconstruction, not 'xy'"},
      {{"-m", missing, "-d", missing, "--inputs=0"}, "option --inputs must be between 1 and 2147483647, not '0'"},
      {{"-m", missing, "-d", missing, "--inputs=2x"}, "option --inputs expects a whole number, not '2x'"},
      {{"-m", missing, "-d", missing, "--inputs=2.0"}, "option --inputs expects a whole number, not '2.0'"},
      {{"-m", missing, "-d", missing, "--to=network"},
       "option --to expects one of dataset, csv, sompak, not 'network'"},
      {{"-m", missing, "-d", missing, "--from=xml"},
       "option --from expects one of dataset, network, csv, sompak, codebook, not 'xml'"},
      {{"-m", missing, "-d", missing, "--header", "--no-header"},
       "options --header and --no-header exclude each other"},
      {{"-m", missing, "-d", missing, "-o", "x.net"},
       "option --out 'x.net' names a map file; give --to for a data file"},
      {{"-m", missing, "-d", missing, "-o", "x.COD"},
       "option --out 'x.COD' names a map file; give --to for a data file"},
      {{"-m", map_, "-d", rows_, "-o", rows_}, "option --out '" + rows_ + "' is also an input"},
      {{"-m", map_, "-d", rows_, "-o", map_, "--to=dataset"}, "option --out '" + map_ + "' is also an input"},
      {{"-m", missing, "-d", missing, "--quality", "--output=index"},
       "option --output needs --out when --quality is given"},
      {{"-m", missing, "-d", missing, "-q", "--to=csv"}, "option --to needs --out when --quality is given"},
      {{"-m", missing, "-d", missing, "--quality=yes"}, "option --quality takes no value"},
      {{"-m", missing, "-d", missing, "extra"}, "extra operand 'extra'"},
      {{"-m", missing, "-d", missing, "--outputs=index"}, "unknown option '--outputs'"},
      {{"-m", missing, "-d", missing, "--ou=x"}, "ambiguous option '--ou'"},
      {{"-m", missing, "-d", missing, "-x"}, "unknown option '-x'"},
  };
  for (const auto& [args, message] : cases) ExpectUsageError(args, message);
}

TEST_F(MapsmithMapTest, RunTimeFailuresNameTheFileAndLeaveAnExistingOutputAlone) {
  const std::string out = Write("out.dat", "earlier output\n");
  const std::string missing = Path("missing.net");
  const std::string malformed = Write("malformed.dat", "[DataSet] [Inputs = 2] [Rows = 2] [Data] 1 2 3 ]");
  const std::string nets = std::string(MAPSMITH_TEST_DATA) + "/networkfile/";
  const std::string full = Data("expected-labelled-map.dat");
  const std::string garbage = Write("bad.net", "garbage");
  const std::vector<std::tuple<std::string, std::string, std::string, std::string>> cases = {
      // map, data, file named, reason
      {missing, rows_, missing, "cannot open: No such file or directory"},
      {map_, Path("missing.dat"), Path("missing.dat"), "cannot open: No such file or directory"},
      {nets + "good/basic_mixed.net", rows_, nets + "good/basic_mixed.net", "Not a Kohonen network"},
      {nets + "bad/eof_in_network.net", rows_, nets + "bad/eof_in_network.net", "Unexpected end of file"},
      {Data("bad-grid.net"), rows_, Data("bad-grid.net"), "Dimensions give 8 neurons, the map layer has 6"},
      {Data("unconnected.net"), rows_, Data("unconnected.net"),
       "Kohonen map lacks connections from layer 1 to layer 2"},
      {Data("no-inputs.net"), rows_, Data("no-inputs.net"), "the map has no inputs"},
      {Data("no-neurons.net"), rows_, Data("no-neurons.net"), "Map layer has no neurons"},
      {map_, malformed, malformed, "Unexpected ']'"},
      {map_, map_, map_, "is a map, not a data set"},
      {garbage, rows_, garbage, "not a map (a network file or SOM_PAK codebook); its content reads as CSV"},
      {map_, Data("infinite.dat"), Data("infinite.dat"), "row 3, column 2: not a finite number"},
  };
  for (const auto& [map, data, file, reason] : cases) {
    ExpectFailure({"-m", map, "-d", data, "-o", out}, file, reason);
    EXPECT_EQ(Read(out), "earlier output\n") << reason;
  }
  ExpectFailure({"-m", map_, "-d", rows_, "-o", Path("no/such/dir.dat")}, Path("no/such/dir.dat"),
                "cannot create: No such file or directory");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()), 3);
}

TEST_F(MapsmithMapTest, HelpListsEveryOptionOfTheManualPage) {
  const Outcome version = Map({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "MapsmithMap " MAPSMITH_VERSION "\n");
  const Outcome help = Map({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: MapsmithMap --map MAP --data DATA [--out OUT] [OPTION]...\n", 0), 0u);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(tooltest::OptionsWithoutDefault(help.out), std::set<std::string>{});
  const std::string manual = Read(std::string(MAPSMITH_TEST_DATA) + "/../../docs/MapsmithMap.1");
  ASSERT_FALSE(manual.empty());
  EXPECT_EQ(tooltest::LongOptions(manual), tooltest::LongOptions(help.out));
}

TEST_F(MapsmithMapTest, TheBinaryWritesToStandardOutputAndReportsAFailedWrite) {
  Outcome o = RunBinary("MapsmithMap", "-m '" + map_ + "' -d '" + rows_ + "' --output=index");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, Read(Data("expected-index.dat")));
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  o = RunBinary("MapsmithMap", "-m '" + map_ + "' -d '" + rows_ + "'", "/dev/full");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "MapsmithMap: standard output: cannot write\n");
}

TEST_F(MapsmithMapTest, RowsMappedAsTheyAreReadComeOutAsTheWholeSetWould) {
  // A data set file written to --out is mapped as it is read when it can be;
  // on standard output the whole set is read first. Both give the same bytes,
  // for files read at speed and for files that need the general reader.
  const std::string header = "[DataSet] [Rows = 6] [Inputs = 2] [Data]\n";
  std::string many = "[DataSet] [Rows = 3000] [Inputs = 2] [Data]\n";
  for (int r = 0; r < 3000; ++r)
    many += std::to_string(r % 13) + "." + std::to_string(r * 7919 % 1000) + " -" + std::to_string(r % 5) + "\n";
  const std::vector<std::string> files = {
      Write("plain.dat", header + "1.5 2\n9 22.250\n4e0 11 .5 -0\n12 -3 6 16\n[~Data] [~DataSet]"),
      Write("small.dat",
            "[DataSet] [Rows = 2] [Inputs = 2] [Data] 0.000001 1e15 -0.0001 123456789012345 [~Data] [~DataSet]"),
      Write("comment.dat", header + "1.5 2 /* a comment */ 9 22.25 4 11 .5 -0 12 -3 6 16 [~Data] [~DataSet]"),
      Write("many.dat", many + "[~Data] [~DataSet]\n"),
  };
  for (const std::string& file : files) {
    for (const char* what : {"coords", "index", "reconstruction"}) {
      const Outcome whole = Map({"-m", map_, "-d", file, "--output", what});
      ASSERT_EQ(whole.status, 0) << whole.err;
      const Outcome streamed = Map({"-m", map_, "-d", file, "--output", what, "-o", Path("out.dat")});
      ASSERT_EQ(streamed.status, 0) << streamed.err;
      EXPECT_EQ(streamed.out + streamed.err, "");
      EXPECT_TRUE(Read(Path("out.dat")) == whole.out) << file << " " << what;
    }
  }

  // A pipe is read once, by the general way (more than the 64 KiB that
  // recognising its format looks at).
  const std::string command = "cd '" + dir_.string() + "' && cat many.dat | '" + MAPSMITH_TOOL_DIR +
                              "/MapsmithMap' -m '" + map_ + "' -d /dev/stdin -o piped.dat 2>stderr.txt";
  EXPECT_EQ(std::system(command.c_str()), 0) << Read(Path("stderr.txt"));
  EXPECT_TRUE(Read(Path("piped.dat")) == Map({"-m", map_, "-d", Path("many.dat")}).out) << "piped.dat differs";
  std::filesystem::remove(Path("piped.dat"));
  std::filesystem::remove(Path("stderr.txt"));

  // A fault in the last row is found after the other rows were written: the
  // general reader reports it, and the earlier output stays.
  const std::string out = Write("earlier.dat", "earlier output\n");
  const std::string bad = Write("bad.dat", header + "1 2 3 4 5 6 7 8 9 10 11 [~Data] [~DataSet]");
  ExpectFailure({"-m", map_, "-d", bad, "-o", out}, bad, "Token (number) expected");
  EXPECT_EQ(Read(out), "earlier output\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()), 7);
}

TEST_F(MapsmithMapTest, WeightVectorsOfALargeMapAreWrittenRowByRow) {
  // 16,385 neurons of 64 weights: more numbers than the texts kept per
  // neuron may hold, so each row's winner is written out afresh.
  int sizes[1] = {16385};
  TKohonenNetwork net(64, 1, sizes);
  SeedRandom(11);
  net.Randomize(-1, 1);
  FileTools tools;
  const std::string map = Path("large.net");
  SaveNetworkFile(tools, map.c_str(), &net, nullptr);
  std::string rows = "[DataSet] [Rows = 20] [Inputs = 64] [Data]\n";
  for (int r = 0; r < 20; ++r) {
    for (int c = 0; c < 64; ++c) rows += std::to_string((r * 64 + c) % 19 / 9.0 - 1.0) + " ";
    rows += "\n";
  }
  const std::string data = Write("rows.dat", rows + "[~Data] [~DataSet]\n");
  const Outcome whole = Map({"-m", map, "-d", data, "--output", "reconstruction"});
  ASSERT_EQ(whole.status, 0) << whole.err;
  const Outcome streamed = Map({"-m", map, "-d", data, "--output", "reconstruction", "-o", Path("out.dat")});
  ASSERT_EQ(streamed.status, 0) << streamed.err;
  EXPECT_TRUE(Read(Path("out.dat")) == whole.out) << "out.dat differs";
}

}  // namespace
