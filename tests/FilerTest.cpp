// Data set files: round trips of every shape the writer makes, the written
// text, the header's keyword rules, label lists, chunked reading, probing and
// the refusals of malformed files (one file per message under data/filer/bad).
#include "FileHandler/Filer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "tests/HostileStreams.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string Printed(const TKQstructure& reply) {
  std::ostringstream out;
  reply.Print(out);
  return out.str();
}

// Values of at most 15 significant digits, scaled by a power of two (`seed`)
// so that they keep within 15 digits and the general notation holds them
// exactly; a few labels per row, with weights of at most 9 decimals, and some
// rows with an empty list.
std::unique_ptr<Data> MakeSet(int32_t rows, int32_t inputs, int32_t outputs, bool labels, double seed) {
  auto set = std::make_unique<Data>(rows, inputs, outputs, labels);
  static const double kValues[] = {0.5, -2, 1e-300, 123456789012345, -0.000123, 1e300, 3.25, 0};
  std::vector<double> in(static_cast<size_t>(inputs)), out(static_cast<size_t>(outputs));
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < inputs; ++c) in[c] = kValues[(r + c) % 8] * seed;
    for (int32_t c = 0; c < outputs; ++c) out[c] = kValues[(r * 3 + c) % 8] * -seed;
    TLabelList list;
    if (labels && r % 3 != 2) {
      list.Add("red", 1.0);
      if (r % 3 == 1) list.Add("big-" + std::to_string(r), 0.25 * r - 1);
    }
    set->AddRow(in.data(), out.data(), &list);
  }
  return set;
}

void ExpectSameSet(const Data* expected, const Data* actual) {
  if (expected == nullptr) {
    EXPECT_EQ(actual, nullptr);
    return;
  }
  ASSERT_NE(actual, nullptr);
  ASSERT_EQ(actual->MbrNdxRows, expected->MbrNdxRows);
  ASSERT_EQ(actual->MbrNdxInputs, expected->MbrNdxInputs);
  ASSERT_EQ(actual->MbrNdxOutputs, expected->MbrNdxOutputs);
  ASSERT_EQ(actual->MbrHasLabels, expected->MbrHasLabels);
  for (int32_t r = 0; r < expected->MbrNdxRows; ++r) {
    for (int32_t c = 0; c < expected->MbrNdxInputs; ++c)
      EXPECT_EQ(actual->MbrDyaRtpInputs[r][c], expected->MbrDyaRtpInputs[r][c]) << "row " << r << " input " << c;
    for (int32_t c = 0; c < expected->MbrNdxOutputs; ++c)
      EXPECT_EQ(actual->MbrDyaRtpOutputs[r][c], expected->MbrDyaRtpOutputs[r][c]) << "row " << r << " output " << c;
    if (!expected->MbrHasLabels) continue;
    const auto& want = expected->MbrDyaLabels[r].labels;
    const auto& got = actual->MbrDyaLabels[r].labels;
    ASSERT_EQ(got.size(), want.size()) << "row " << r;
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(got[i].name, want[i].name);
      EXPECT_EQ(got[i].value, want[i].value);
    }
  }
}

class FilerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("filer-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  FileTools tools_;
  fs::path dir_;
};

const char kHeader[] = "[FormatVersion = 1.0]\n\n[DataSet]\n";

TEST_F(FilerTest, ExampleSetIsWrittenInTheFileFormatAndReadsBack) {
  Data set(2, 2, 1, false);
  const double row0[] = {0.5, 2}, out0[] = {1}, row1[] = {-1e-7, 1e16}, out1[] = {0.1};
  set.AddRow(row0, out0, nullptr);
  set.AddRow(row1, out1, nullptr);
  ASSERT_EQ(WriteDataSetFile(tools_, Path("a.dat"), &set, nullptr), SUCCESS);
  EXPECT_EQ(ReadAll(Path("a.dat")),
            "[FormatVersion = 1.0]\n\n[DataSet]\n[Rows = 2]\n[Inputs = 2]\n[ExpectedOutputs = 1]\n"
            "[GeneratedOutputs = 0]\n[Error = 0]\n\n[Data]\n"
            "0.5 2   1 \n-1e-07 1e+16   0.1 \n[~Data]\n\n[~DataSet]\n");

  std::unique_ptr<Data> example, result;
  ASSERT_EQ(ReadDataSetFile(tools_, Path("a.dat"), example, result), SUCCESS);
  ExpectSameSet(&set, example.get());
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(example->MbrNdxDataRows, 2);
}

TEST_F(FilerTest, TheDocumentedExampleReadsAndWritesAsItStands) {
  const fs::path example = fs::path(MAPSMITH_TEST_DATA) / ".." / ".." / "docs" / "examples" / "labelled.dat";
  std::unique_ptr<Data> a, b;
  ASSERT_EQ(ReadDataSetFile(tools_, example.string(), a, b), SUCCESS);
  ASSERT_EQ(a->MbrDyaLabels[0].count(), 2);
  EXPECT_EQ(a->MbrDyaLabels[0].labels[1].value, 0.25);
  std::ostringstream out;
  ASSERT_EQ(WriteDataSetFile(tools_, out, a.get(), b.get()), SUCCESS);
  EXPECT_EQ(out.str(), ReadAll(example));
}

TEST_F(FilerTest, LabelListsAreWrittenInThePlaceOfTheirColumns) {
  auto example = MakeSet(2, 1, 0, true, 1);
  auto result = MakeSet(2, 1, 1, false, 2);
  ASSERT_EQ(WriteDataSetFile(tools_, Path("l.dat"), example.get(), result.get()), SUCCESS);
  EXPECT_EQ(ReadAll(Path("l.dat")),
            "[FormatVersion = 1.0]\n\n[DataSet]\n[Rows = 2]\n[Inputs = 1]\n[ExpectedOutputs = Labels]\n"
            "[GeneratedOutputs = 1]\n[Error = 1]\n\n[Data]\n"
            "0.5   [red ]   1   -1 \n-2   [red big-1=-0.750000000 ]   -4   -246913578024690 \n[~Data]\n\n[~DataSet]\n");
}

// Every combination of sets that the writer makes reads back equal.
TEST_F(FilerTest, EveryShapeOfFileReadsBackEqual) {
  struct Shape {
    int32_t inputs, outputs;
    bool labels;
  };
  const std::vector<Shape> examples = {{0, 0, false}, {3, 2, false}, {2, 0, true}, {0, 0, true}};
  const std::vector<Shape> results = {{0, 0, false}, {2, 3, false}, {0, 2, true}, {0, 0, true}};
  for (size_t e = 0; e < examples.size(); ++e) {
    for (size_t r = 0; r < results.size(); ++r) {
      if (e == 0 && r == 0) continue;  // nothing to write
      SCOPED_TRACE("example shape " + std::to_string(e) + ", result shape " + std::to_string(r));
      std::unique_ptr<Data> a, b;
      if (e != 0) a = MakeSet(5, examples[e].inputs, examples[e].outputs, examples[e].labels, 0.5);
      if (r != 0) b = MakeSet(5, results[r].inputs, results[r].outputs, results[r].labels, -3);
      ASSERT_EQ(WriteDataSetFile(tools_, Path("s.dat"), a.get(), b.get()), SUCCESS);
      std::unique_ptr<Data> a2, b2;
      ASSERT_EQ(ReadDataSetFile(tools_, Path("s.dat"), a2, b2), SUCCESS);
      ExpectSameSet(a.get(), a2.get());
      ExpectSameSet(b.get(), b2.get());

      // The stream forms write the same text.
      std::ostringstream out;
      ASSERT_EQ(WriteDataSetFile(tools_, out, a.get(), b.get()), SUCCESS);
      EXPECT_EQ(out.str(), ReadAll(Path("s.dat")));
    }
  }
}

TEST_F(FilerTest, StorageIsWrittenInRowNumberOrder) {
  // A wrapped window (rows 0 and 1 overwritten by the fourth and fifth rows)
  // and a set with rows that were never added.
  Data wrapped(3, 1, 0, true);
  for (int i = 1; i <= 5; ++i) {
    const double in[] = {double(i)};
    TLabelList list("row" + std::to_string(i), 1.0);
    wrapped.AddRow(in, nullptr, &list);
  }
  Data partial(3, 0, 1, false);
  const double seven[] = {7};
  partial.AddRow(nullptr, seven, nullptr);

  ASSERT_EQ(WriteDataSetFile(tools_, Path("w.dat"), &wrapped, &partial), SUCCESS);
  const std::string text = ReadAll(Path("w.dat"));
  EXPECT_NE(text.find("[Data]\n4   [row4 ]     7 \n5   [row5 ]     0 \n3   [row3 ]     0 \n[~Data]"),
            std::string::npos)
      << text;

  std::unique_ptr<Data> a, b;
  ASSERT_EQ(ReadDataSetFile(tools_, Path("w.dat"), a, b), SUCCESS);
  ExpectSameSet(&wrapped, a.get());
  ExpectSameSet(&partial, b.get());

  // Labels and outputs cannot both stand in one set's place in a file.
  Data both(3, 1, 1, true);
  EXPECT_EQ(WriteDataSetFile(tools_, Path("f.dat"), &both, nullptr), ERR_FORMAT);
  Data generated(3, 1, 1, true);
  EXPECT_EQ(WriteDataSetFile(tools_, Path("f.dat"), nullptr, &generated), ERR_FORMAT);
  EXPECT_FALSE(fs::exists(Path("f.dat")));
}

TEST_F(FilerTest, WritersReportWhatTheyCannotDo) {
  auto three = MakeSet(3, 1, 1, false, 1);
  auto four = MakeSet(4, 1, 1, false, 1);
  EXPECT_EQ(WriteDataSetFile(tools_, Path("r.dat"), three.get(), four.get()), ERR_ROWS);
  EXPECT_EQ(WriteDataSetFile(tools_, Path("r.dat"), nullptr, nullptr), ERR_ROWS);
  EXPECT_EQ(WriteDataSetRows(tools_, Path("r.dat"), three.get(), four.get()), ERR_ROWS);
  EXPECT_EQ(WriteDataSetHeader(tools_, Path("r.dat"), 1, 1, 0, 0, -1), ERR_ROWS);
  EXPECT_FALSE(fs::exists(Path("r.dat")));

  const std::string missing = Path("no-such-dir/r.dat");
  EXPECT_EQ(WriteDataSetFile(tools_, missing, three.get(), nullptr), ERR_WRITE);
  EXPECT_EQ(WriteDataSetHeader(tools_, missing, 1, 1, 0, 0, 3), ERR_WRITE);
  EXPECT_EQ(WriteDataSetRows(tools_, missing, three.get(), nullptr), ERR_WRITE);
  EXPECT_EQ(WriteDataSetTrailer(tools_, missing), ERR_WRITE);

  std::ostringstream broken;
  broken.setstate(std::ios::badbit);
  EXPECT_EQ(WriteDataSetFile(tools_, broken, three.get(), nullptr), ERR_WRITE);
}

TEST_F(FilerTest, ReadExampleSetFileRefusesAResultSetButHandsOutTheExamples) {
  auto example = MakeSet(2, 2, 1, false, 1);
  auto result = MakeSet(2, 1, 1, false, 1);
  ASSERT_EQ(WriteDataSetFile(tools_, Path("x.dat"), example.get(), result.get()), SUCCESS);
  std::unique_ptr<Data> a;
  EXPECT_EQ(ReadExampleSetFile(tools_, Path("x.dat"), a), ERR_FORMAT);
  ExpectSameSet(example.get(), a.get());
  EXPECT_EQ(ReadExampleSetFile(tools_, Path("missing.dat"), a), ERR_OPEN);
  std::unique_ptr<Data> b;
  EXPECT_EQ(ReadDataSetFile(tools_, Path("missing.dat"), a, b), ERR_OPEN);
}

TEST_F(FilerTest, HeaderKeywordsFollowTheirOrderRule) {
  struct Case {
    std::string tags;
    int32_t err, inputs, expected, generated, errors, rows;
  };
  const std::vector<Case> cases = {
      {"[Rows = 2][Inputs = 1][Rows = 3][ExpectedOutputs = 1][Rows = 4]", SUCCESS, 1, 1, 0, 0, 4},
      {"[inputs = 2][expectedoutputs = -1][GENERATEDOUTPUTS = labels][error = 1]", SUCCESS, 2, -1, -1, 1, -1},
      {"[ExpectedOutputs = -5][Error = 0]", SUCCESS, 0, -5, 0, 0, -1},
      {"[Error = 1][Inputs = 1]", ERR_FORMAT, 0, 0, 0, 1, -1},
      {"[Inputs = 1][Inputs = 1]", ERR_FORMAT, 1, 0, 0, 0, -1},
      {"[Colour = 3]", ERR_FORMAT, 0, 0, 0, 0, -1},
      {"[Inputs = 1 [Rows = 2]", ERR_FORMAT, 0, 0, 0, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tags);
    std::istringstream in(c.tags + "[Data]");
    int32_t i, e, g, x, r;
    FileTools::Tag next;
    EXPECT_EQ(ReadDataSetHeader(tools_, in, i, e, g, x, r, next), c.err);
    EXPECT_EQ(std::vector<int32_t>({i, e, g, x, r}),
              std::vector<int32_t>({c.inputs, c.expected, c.generated, c.errors, c.rows}));
    if (c.err == SUCCESS) {
      EXPECT_EQ(next.name, "Data");
    }
  }
}

TEST_F(FilerTest, HeaderValuesMinusOneAndBelowReadAsLabelsAndNone) {
  // Comments may stand between any two tokens.
  std::istringstream in(std::string(kHeader) +
                        "[Rows = 1][Inputs = 1] /* c */ [ExpectedOutputs = -1][GeneratedOutputs = -5][Error = 1]\n"
                        "[Data] /* c */ 1 /* c */ [a] /* c */ 2 /* c */ [~Data] [~DataSet] /* c */");
  std::unique_ptr<Data> a, b;
  ASSERT_EQ(ReadDataSetFile(tools_, in, a, b), SUCCESS);
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(a->MbrHasLabels);
  EXPECT_EQ(a->MbrNdxOutputs, 0);
  EXPECT_FALSE(b->MbrHasLabels);
  EXPECT_EQ(b->MbrNdxInputs, 0);
  EXPECT_EQ(b->MbrDyaRtpOutputs[0][0], 2);
}

TEST_F(FilerTest, LabelListsReadAndWrite) {
  std::ostringstream out;
  TLabelList list("red", 1.0);
  list.Add("big", 0.25);
  WriteLabels(tools_, out, list);
  WriteLabels(tools_, out, TLabelList());
  EXPECT_EQ(out.str(), "[red big=0.250000000 ] [] ");

  std::istringstream in(" [red big=0.25 red] [] /* x */ [ ] ,[ \n] [a=-2,b]");
  auto first = ReadLabelList(tools_, in);
  ASSERT_EQ(first->count(), 2);
  EXPECT_EQ(first->labels[0].name, "red");
  EXPECT_EQ(first->labels[0].value, 2.0);  // repeated names add up
  EXPECT_EQ(first->labels[1].value, 0.25);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadLabelList(tools_, in)->count(), 0);
  auto last = ReadLabelList(tools_, in);
  ASSERT_EQ(last->count(), 2);
  EXPECT_EQ(last->labels[0].value, -2.0);
  EXPECT_EQ(last->labels[1].name, "b");

  const std::vector<std::pair<std::string, std::string>> refusals = {
      {"red", "Label list expected"},   {"", "Unexpected end of file"},
      {"[red", "Unexpected end of file"}, {"[a=heavy]", "number-expected"},
      {"/x", "Unexpected special character"}, {"[/x]", "Unexpected special character"},
      {"[a = ]", "Unexpected special character"}};
  for (const auto& [text, message] : refusals) {
    std::istringstream bad(text);
    try {
      ReadLabelList(tools_, bad);
      ADD_FAILURE() << "read: " << text;
    } catch (const FileTools::Error& e) {
      EXPECT_EQ(e.message, message) << text;
    }
  }
}

TEST_F(FilerTest, ChunksContinueWhereThePreviousOneStopped) {
  for (bool labels : {false, true}) {
    SCOPED_TRACE(labels ? "label lists only" : "numbers");
    // With labels: an example set of labels alone, and a result set whose
    // labels are followed by error values.
    auto example = labels ? MakeSet(4, 0, 0, true, 1) : MakeSet(4, 2, 1, false, 1);
    auto result = labels ? MakeSet(4, 0, 1, true, 2) : MakeSet(4, 1, 2, false, 2);
    ASSERT_EQ(WriteDataSetFile(tools_, Path("c.dat"), example.get(), result.get()), SUCCESS);

    int64_t offset = 0;
    std::unique_ptr<Data> a, b;
    for (int chunk = 0; chunk < 2; ++chunk) {
      ASSERT_EQ(ReadDataSetChunk(tools_, Path("c.dat"), offset, 2, a, b), SUCCESS);
      ASSERT_TRUE(a && b);
      ASSERT_EQ(a->MbrNdxRows, 2);
      for (int32_t r = 0; r < 2; ++r) {
        const int32_t row = chunk * 2 + r;
        if (labels) {
          EXPECT_EQ(a->MbrDyaLabels[r].count(), example->MbrDyaLabels[row].count());
          EXPECT_EQ(b->MbrDyaLabels[r].count(), result->MbrDyaLabels[row].count());
        } else {
          EXPECT_EQ(a->MbrDyaRtpInputs[r][1], example->MbrDyaRtpInputs[row][1]);
        }
        EXPECT_EQ(b->MbrDyaRtpOutputs[r][0], result->MbrDyaRtpOutputs[row][0]);
      }
    }
    // The offset now stands at the end tag of the Data block.
    std::unique_ptr<Data> e;
    EXPECT_EQ(ReadExampleSetChunk(tools_, Path("c.dat"), offset, 0, e), SUCCESS);
    EXPECT_EQ(e->MbrNdxRows, 0);
    EXPECT_THROW(ReadExampleSetChunk(tools_, Path("c.dat"), offset, 1, e), FileTools::Error);
  }
  int64_t offset = 0;
  std::unique_ptr<Data> a, b;
  EXPECT_EQ(ReadDataSetChunk(tools_, Path("missing.dat"), offset, 2, a, b), ERR_OPEN);
}

TEST_F(FilerTest, ProbeAnswersTheKindOfFile) {
  auto set = MakeSet(3, 2, 0, true, 1);
  ASSERT_EQ(WriteDataSetFile(tools_, Path("d.dat"), set.get(), nullptr), SUCCESS);
  WriteText(Path("net.txt"), "[FormatVersion = 1.0]\n\n[NeuralNetwork]\n[Type = Kohonen]\n[~NeuralNetwork]\n");
  WriteText(Path("n.txt"), "/* a map */ [network]\n");
  WriteText(Path("foo.txt"), "[Foo]");
  WriteText(Path("bad.txt"), "[DataSet]\n[Error = 1]\n[Inputs = 2]\n");
  WriteText(Path("norows.txt"), "[DataSet][Inputs = 2]");
  WriteText(Path("empty.txt"), "");

  const std::vector<std::pair<std::string, std::string>> answers = {
      {"d.dat", "(data :rows 3 :inputs 2 :actual-outputs -1 :calc-outputs 0 :errors 0)"},
      {"net.txt", "(error :type unknown-header :header NeuralNetwork)"},
      {"n.txt", "network"},
      {"foo.txt", "(error :type unknown-header :header Foo)"},
      {"bad.txt", "(error :type bad-header)"},
      {"norows.txt", "(data :rows -1 :inputs 2 :actual-outputs 0 :calc-outputs 0 :errors 0)"},
      {"missing.txt", "(error :type file-read-error)"}};
  for (const auto& [file, answer] : answers) EXPECT_EQ(Printed(*ProbeFile(tools_, Path(file))), answer) << file;

  try {
    ProbeFile(tools_, Path("empty.txt"));
    ADD_FAILURE() << "probed an empty file";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "start of block expected");
  }
}

// Each file under data/filer/bad opens with a comment that holds the message
// it must be refused with.
TEST_F(FilerTest, MalformedFilesAreRefusedWithTheirMessage) {
  int files = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(MAPSMITH_TEST_DATA) / "filer" / "bad")) {
    const std::string text = ReadAll(entry.path());
    ASSERT_EQ(text.rfind("/* ", 0), 0u) << entry.path();
    const std::string message = text.substr(3, text.find(" */") - 3);
    std::unique_ptr<Data> a, b;
    try {
      ReadDataSetFile(tools_, entry.path().string(), a, b);
      ADD_FAILURE() << "read: " << entry.path();
    } catch (const FileTools::Error& e) {
      EXPECT_EQ(e.message, message) << entry.path();
    }
    ++files;
  }
  EXPECT_GE(files, 20);
}

TEST_F(FilerTest, AFailedReadLeavesTheSetsCreatedSoFar) {
  std::istringstream in(std::string(kHeader) + "[Rows = 3][Inputs = 1][Error = 1][Data] 1 2 3 4 5 x");
  std::unique_ptr<Data> a, b;
  try {
    ReadDataSetFile(tools_, in, a, b);
    ADD_FAILURE();
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "number-expected");
  }
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->MbrNdxDataRows, 2);
  EXPECT_EQ(b->MbrDyaRtpOutputs[1][0], 4);
}

// ---------------------------------------------------------------- hostile files

TEST_F(FilerTest, DeclaredSizesAreCheckedWhateverTheStreamsState) {
  // The input ends right after "[Data": the end of input has been met when the
  // sets are made, and the rest of the stream is still measured (0 bytes).
  std::istringstream in(std::string(kHeader) + "[Rows = 100000000][Inputs = 5][Data");
  std::unique_ptr<Data> a, b;
  try {
    ReadDataSetFile(tools_, in, a, b);
    ADD_FAILURE() << "read";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Data set larger than the file");
  }
  EXPECT_EQ(a, nullptr);
}

TEST_F(FilerTest, StreamsOfUnknownSizeGrowTheSetsAsRowsArrive) {
  // 42 bytes through a pipe declare 4 GB; the sets stay small until rows come.
  hostile::PipeBuffer pipe(std::string(kHeader) + "[Rows = 500000000][Inputs = 1][Data] 1 2 3");
  std::istream piped(&pipe);
  std::unique_ptr<Data> a, b;
  try {
    ReadDataSetFile(tools_, piped, a, b);
    ADD_FAILURE() << "read";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Unexpected end of file");
  }
  ASSERT_NE(a, nullptr);
  EXPECT_LE(a->MbrNdxRows, 1 << 17);
  EXPECT_EQ(a->MbrNdxDataRows, 3);
  EXPECT_EQ(a->MbrDyaRtpInputs[2][0], 3.0);

  // A whole file read through a pipe equals the same file read from a file:
  // rows, labels, window, cursor.
  auto example = MakeSet(200000, 1, 0, false, 1);
  auto result = MakeSet(200000, 0, 1, true, 0.5);
  std::ostringstream out;
  ASSERT_EQ(WriteDataSetFile(tools_, out, example.get(), result.get()), SUCCESS);
  hostile::PipeBuffer whole(out.str());
  std::istream wholePiped(&whole);
  ASSERT_EQ(ReadDataSetFile(tools_, wholePiped, a, b), SUCCESS);
  ExpectSameSet(example.get(), a.get());
  ExpectSameSet(result.get(), b.get());
  std::istringstream direct(out.str());
  std::unique_ptr<Data> c, d;
  ASSERT_EQ(ReadDataSetFile(tools_, direct, c, d), SUCCESS);
  for (const auto& [x, y] : {std::pair{a.get(), c.get()}, std::pair{b.get(), d.get()}}) {
    EXPECT_EQ(x->MbrNdxDataRows, y->MbrNdxDataRows);
    EXPECT_EQ(x->MbrNdxFirstRow, y->MbrNdxFirstRow);
    EXPECT_EQ(x->MbrNdxLastRow, y->MbrNdxLastRow);
    EXPECT_EQ(x->MbrNdxCurrentRow, y->MbrNdxCurrentRow);
  }

  // A row wider than the room a pipe is given at first is read in full.
  std::string wide = std::string(kHeader) + "[Rows = 1][Inputs = 200000][Data]";
  for (int i = 0; i < 200000; ++i) wide += " 1";
  hostile::PipeBuffer widePipe(wide + "[~Data][~DataSet]");
  std::istream widePiped(&widePipe);
  ASSERT_EQ(ReadDataSetFile(tools_, widePiped, a, b), SUCCESS);
  EXPECT_EQ(a->MbrDyaRtpInputs[0][199999], 1.0);
}

TEST_F(FilerTest, ReadErrorsAreFilesThatCannotBeRead) {
  auto set = MakeSet(3, 2, 1, false, 1);
  std::ostringstream out;
  ASSERT_EQ(WriteDataSetFile(tools_, out, set.get(), nullptr), SUCCESS);
  const std::string text = out.str();

  hostile::FailingBuffer failing(text.substr(0, text.size() - 20));
  std::istream in(&failing);
  std::unique_ptr<Data> a, b;
  EXPECT_EQ(ReadDataSetFile(tools_, in, a, b), ERR_OPEN);
  EXPECT_EQ(a, nullptr);
  int64_t offset = 0;
  hostile::FailingBuffer failingProbe(text.substr(0, 30));
  std::istream probeIn(&failingProbe);
  EXPECT_EQ(Printed(*ProbeFile(tools_, probeIn)), "(error :type file-read-error)");

  // A directory opens but cannot be read; neither can this file.
  std::vector<std::string> unreadable = {dir_.string()};
  if (fs::exists("/proc/self/mem")) unreadable.push_back("/proc/self/mem");
  for (const std::string& path : unreadable) {
    EXPECT_EQ(ReadDataSetFile(tools_, path, a, b), ERR_OPEN) << path;
    EXPECT_EQ(ReadExampleSetFile(tools_, path, a), ERR_OPEN) << path;
    EXPECT_EQ(ReadDataSetChunk(tools_, path, offset, 1, a, b), ERR_OPEN) << path;
    EXPECT_EQ(Printed(*ProbeFile(tools_, path)), "(error :type file-read-error)") << path;
  }
}

TEST_F(FilerTest, LabelNamesTheFormatCannotCarryAreRefusedBeforeWriting) {
  auto set = [](const std::string& name) {
    auto data = std::make_unique<Data>(2, 1, 0, true);
    const double x = 1;
    const TLabelList fine("fine", 1.0);
    data->AddRow(&x, nullptr, &fine);
    const TLabelList list(name, 1.0);
    data->AddRow(&x, nullptr, &list);
    return data;
  };
  // Each of these read back as other labels, or made the file unreadable.
  for (const std::string& name : std::vector<std::string>{"a b", "a,b", "x=2", "[", "]", "*star", "/*c", "", "tab\t", "<", ">", "a/b",
                                 "caf\xc3\xa9", std::string("nul\0", 4)}) {
    SCOPED_TRACE(name);
    auto data = set(name);
    EXPECT_FALSE(IsWritableLabelName(name));
    EXPECT_EQ(WriteDataSetFile(tools_, Path("l.dat"), data.get(), nullptr), ERR_FORMAT);
    EXPECT_EQ(WriteDataSetFile(tools_, Path("l.dat"), nullptr, data.get()), ERR_FORMAT);
    EXPECT_EQ(WriteDataSetRows(tools_, Path("l.dat"), data.get(), nullptr), ERR_FORMAT);
    std::ostringstream out;
    EXPECT_EQ(WriteDataSetFile(tools_, out, data.get(), nullptr), ERR_FORMAT);
    EXPECT_EQ(out.str(), "");
    EXPECT_FALSE(fs::exists(Path("l.dat")));
  }
  // Every other printable character is kept as written.
  for (const std::string& name : std::vector<std::string>{"~x", "-", "1.5", "FormatVersion", "Labels", "a.b_c", "!\"#$%&'()+-.:;?@\\^`{|}~"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(IsWritableLabelName(name));
    auto data = set(name);
    data->AppendLabel(1, 0.5, "second");
    ASSERT_EQ(WriteDataSetFile(tools_, Path("l.dat"), data.get(), nullptr), SUCCESS);
    std::unique_ptr<Data> a, b;
    ASSERT_EQ(ReadDataSetFile(tools_, Path("l.dat"), a, b), SUCCESS);
    ExpectSameSet(data.get(), a.get());
  }
}

using FilerDeathTest = FilerTest;

// Two billion rows of nothing: no set, and no walk through the rows. The
// reads run in a child that an alarm kills after 2 s; walking the rows takes
// longer than that.
TEST_F(FilerDeathTest, AHeaderWithoutColumnsReadsNoRows) {
  const std::string text = std::string(kHeader) + "[Rows = 2000000000][Data][~Data][~DataSet]";
  EXPECT_EXIT(
      {
        ::alarm(2);
        std::istringstream in(text);
        std::unique_ptr<Data> a;
        std::unique_ptr<Data> b;
        if (ReadDataSetFile(tools_, in, a, b) != SUCCESS || a != nullptr || b != nullptr) std::_Exit(1);
        std::istringstream chunk(text);
        int64_t offset = 0;
        if (ReadDataSetChunk(tools_, chunk, offset, 2000000000, a, b) != SUCCESS || offset != 0) std::_Exit(2);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// Reads `path` with the address space limited to what the process uses plus
// `extra` bytes; the exit status of a death test's child: 0 for the file
// error "Data set too large", 1 for another file error, 2 for a read that
// succeeds, 3 for an allocation failure that escapes.
[[noreturn]] void ExitAfterReadingUnderALimit(FileTools& tools, const std::string& path, long extra) {
  if (!hostile::LimitAddressSpace(extra)) std::_Exit(4);
  std::unique_ptr<Data> a, b;
  try {
    ReadDataSetFile(tools, path, a, b);
  } catch (const FileTools::Error& e) {
    std::_Exit(e.message == "Data set too large" ? 0 : 1);
  } catch (const std::bad_alloc&) {
    std::_Exit(3);
  }
  std::_Exit(2);
}

// Memory that cannot be had is an error of the file, never an escape: the
// storage of rows that the file holds but the process may not take, and the
// file-name reader's buffer when not even that can be had.
TEST_F(FilerDeathTest, AllocationFailureIsAFileError) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
  // Four million rows of one input: 8 MB of text, well past the size guard,
  // for 64 MB of storage.
  std::string rows;
  for (int r = 0; r < 4000000; ++r) rows += "0\n";
  const std::string big = Path("big.dat");
  WriteText(big, std::string(kHeader) + "[Rows = 4000000][Inputs = 1][Data]\n" + rows + "[~Data][~DataSet]\n");
  EXPECT_EXIT(ExitAfterReadingUnderALimit(tools_, big, 16 << 20), ::testing::ExitedWithCode(0), "");

  const std::string small = Path("small.dat");
  WriteText(small, std::string(kHeader) + "[Rows = 1][Inputs = 1][Data]\n0\n[~Data][~DataSet]\n");
  EXPECT_EXIT(ExitAfterReadingUnderALimit(tools_, small, 64 << 10), ::testing::ExitedWithCode(0), "");
}

// The disk fills up: a whole file written over an old one leaves the old one,
// an append of rows is cut back, and no temporary file stays behind.
TEST_F(FilerDeathTest, AFailedWriteLeavesTheOldFileAsItWas) {
  auto small = MakeSet(3, 2, 0, true, 1);
  auto large = MakeSet(20000, 8, 2, false, 1);
  const std::string path = Path("d.dat");
  ASSERT_EQ(WriteDataSetFile(tools_, path, small.get(), nullptr), SUCCESS);
  const std::string old = ReadAll(path);
  EXPECT_EXIT(
      {
        if (!hostile::LimitFileSize(64 << 10)) std::_Exit(3);
        std::_Exit(WriteDataSetFile(tools_, path, large.get(), nullptr) == ERR_WRITE ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadAll(path), old);

  // The three steps: the header replaces the file, the rows' append fails
  // and is taken back, the header stays.
  ASSERT_EQ(WriteDataSetHeader(tools_, path, 8, 2, 0, 0, 20000), SUCCESS);
  const std::string header = ReadAll(path);
  EXPECT_EXIT(
      {
        if (!hostile::LimitFileSize(64 << 10)) std::_Exit(3);
        std::_Exit(WriteDataSetRows(tools_, path, large.get(), nullptr) == ERR_WRITE ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadAll(path), header);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

  // Complete steps still make the whole file.
  ASSERT_EQ(WriteDataSetRows(tools_, path, large.get(), nullptr), SUCCESS);
  ASSERT_EQ(WriteDataSetTrailer(tools_, path), SUCCESS);
  std::unique_ptr<Data> a, b;
  ASSERT_EQ(ReadDataSetFile(tools_, path, a, b), SUCCESS);
  ExpectSameSet(large.get(), a.get());
}

}  // namespace
