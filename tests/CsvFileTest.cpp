#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/CsvFile.h"

using namespace mapsmith;

namespace {

DataTable Read(const std::string& text, CsvOptions options = {}) {
  std::istringstream in(text);
  return ReadCsv(in, options);
}

// The message ReadCsv refuses `text` with.
std::string Refusal(const std::string& text, CsvOptions options = {}) {
  try {
    Read(text, options);
  } catch (const FileTools::Error& e) {
    return e.message;
  }
  return "(read)";
}

std::vector<double> Row(const Data& data, int r) {
  return std::vector<double>(data.MbrDyaRtpInputs[r], data.MbrDyaRtpInputs[r] + data.MbrNdxInputs);
}

std::string Label(const Data& data, int r) {
  const TLabelList& list = data.MbrDyaLabels[static_cast<std::size_t>(r)];
  return list.count() == 0 ? "(none)" : list.labels[0].name;
}

std::string Write(const DataTable& table, CsvOptions options = {}, std::vector<std::string>* warnings = nullptr) {
  std::ostringstream out;
  WriteCsv(out, table, options, warnings);
  return out.str();
}

CsvOptions LabelColumn(const std::string& column) {
  CsvOptions options;
  options.labelColumn = column;
  return options;
}

TEST(CsvReadTest, SeparatorAndHeaderAreFoundFromTheFirstLine) {
  DataTable t = Read("a,b,c\n1,2,3\n4,5,6\n");
  EXPECT_EQ(t.columnNames, (std::vector<std::string>{"a", "b", "c"}));
  ASSERT_EQ(t.data->MbrNdxRows, 2);
  EXPECT_EQ(Row(*t.data, 1), (std::vector<double>{4, 5, 6}));
  EXPECT_FALSE(t.data->MbrHasLabels);
  EXPECT_EQ(t.data->MbrNdxOutputs, 0);

  // More ';' than ',': decimal commas are then refused as numbers.
  EXPECT_EQ(Refusal("1;2,5;3\n"),
            "line 1, column 2: '2,5' is not a number (give --header if line 1 holds column names)");
  t = Read("x\ty\n1.5\t-2\n");
  EXPECT_EQ(t.columnNames, (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(Row(*t.data, 0), (std::vector<double>{1.5, -2}));
  // Separators inside quotes do not count; ties go to ','.
  t = Read("\"a;b;c\",d\n1,2\n");
  EXPECT_EQ(t.columnNames, (std::vector<std::string>{"a;b;c", "d"}));
  t = Read("7\n8\n");  // no separator at all: one column, no header
  EXPECT_EQ(t.data->MbrNdxRows, 2);
  EXPECT_TRUE(t.columnNames.empty());

  // Forced: a header of numbers, and a first line of data.
  CsvOptions header;
  header.header = 1;
  t = Read("1990,1991\n3,4\n", header);
  EXPECT_EQ(t.columnNames, (std::vector<std::string>{"1990", "1991"}));
  EXPECT_EQ(t.data->MbrNdxRows, 1);
  CsvOptions noHeader;
  noHeader.header = 0;
  EXPECT_EQ(Refusal("a,b\n1,2\n", noHeader), "line 1, column 1: 'a' is not a number");
  CsvOptions semicolon;
  semicolon.separator = ';';
  EXPECT_EQ(Refusal("1,5;2\n", semicolon),
            "line 1, column 1: '1,5' is not a number (give --header if line 1 holds column names)");

  // A first line that mixes names and numbers is neither taken for names nor
  // silently for data.
  EXPECT_EQ(Refusal("id,1990\n1,2\n"), "line 1, column 1: 'id' is not a number (give --header if line 1 holds column names)");
  EXPECT_EQ(Refusal("1,NA\n1,2\n"), "line 1, column 2: 'NA' is not a number (give --header if line 1 holds column names)");
}

TEST(CsvReadTest, QuotingLineEndsAndBlanksFollowTheUsualRules) {
  const std::string text =
      "\xEF\xBB\xBF"
      "\"first, name\",\"say \"\"hi\"\"\",label\r\n"
      "\r\n"
      " 1.5 , +2 ,\"two\r\nlines\"\r\n"
      "\"3\",4,\"a,b\"\r\n"
      "5,6,plain";  // no line end at the end
  DataTable t = Read(text, LabelColumn("3"));
  EXPECT_EQ(t.columnNames, (std::vector<std::string>{"first, name", "say \"hi\""}));
  EXPECT_EQ(t.labelName, "label");
  ASSERT_EQ(t.data->MbrNdxRows, 3);
  EXPECT_EQ(Row(*t.data, 0), (std::vector<double>{1.5, 2}));
  EXPECT_EQ(Label(*t.data, 0), "two\r\nlines");  // as the file has it
  EXPECT_EQ(Row(*t.data, 1), (std::vector<double>{3, 4}));
  EXPECT_EQ(Label(*t.data, 1), "a,b");
  EXPECT_EQ(Label(*t.data, 2), "plain");
  EXPECT_TRUE(t.warnings.empty());
  // Written and read again, the cells come back the same, line ends inside
  // quotes included.
  const DataTable again = Read(Write(t), LabelColumn("3"));
  EXPECT_EQ(again.columnNames, t.columnNames);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(Label(*again.data, r), Label(*t.data, r));

  // Numbers are read exactly: the 15-digit text of a double gives that double
  // back, subnormals included; underflow reads as zero.
  t = Read("0.1,4.94065645841247e-324,-0,1e-400,2.2250738585072e-308\n");
  EXPECT_EQ(t.data->MbrDyaRtpInputs[0][0], 0.1);
  EXPECT_EQ(t.data->MbrDyaRtpInputs[0][1], std::numeric_limits<double>::denorm_min());
  EXPECT_TRUE(std::signbit(t.data->MbrDyaRtpInputs[0][2]));
  EXPECT_EQ(t.data->MbrDyaRtpInputs[0][3], 0.0);
  EXPECT_EQ(t.data->MbrDyaRtpInputs[0][4], 2.2250738585072e-308);
}

TEST(CsvReadTest, TheLabelColumnByNumberOrName) {
  DataTable t = Read("setosa,1,2\n,3,4\nvirginica,5,6\n", LabelColumn("1"));
  EXPECT_TRUE(t.columnNames.empty());
  ASSERT_TRUE(t.data->MbrHasLabels);
  EXPECT_EQ(t.data->MbrNdxInputs, 2);
  EXPECT_EQ(Label(*t.data, 0), "setosa");
  EXPECT_EQ(Label(*t.data, 1), "(none)");
  EXPECT_EQ(Row(*t.data, 2), (std::vector<double>{5, 6}));
  EXPECT_EQ(t.data->MbrDyaLabels[0].labels[0].value, 1.0);
  EXPECT_EQ(t.warnings, (std::vector<std::string>{"1 row has an empty label cell and no label"}));

  // By name: line 1 is the header, even when its other cells are numbers.
  t = Read("1990,kind,1991\n1,a,2\n", LabelColumn("kind"));
  EXPECT_EQ(t.columnNames, (std::vector<std::string>{"1990", "1991"}));
  EXPECT_EQ(Label(*t.data, 0), "a");

  // A file of labels alone has no header unless told.
  t = Read("red\nblue\n", LabelColumn("1"));
  EXPECT_EQ(t.data->MbrNdxRows, 2);
  EXPECT_EQ(t.data->MbrNdxInputs, 0);
  EXPECT_EQ(Label(*t.data, 0), "red");

  EXPECT_EQ(Refusal("a,b\n1,2\n", LabelColumn("3")), "there is no column 3: line 1 has 2 cells");
  EXPECT_EQ(Refusal("a,b\n1,2\n", LabelColumn("99999999999999999999")),
            "there is no column 99999999999999999999: line 1 has 2 cells");
  EXPECT_EQ(Refusal("a,b\n1,2\n", LabelColumn("c")), "no column of line 1 is named 'c'");
  CsvOptions named = LabelColumn("a");
  named.header = 0;
  EXPECT_EQ(Refusal("a,b\n1,2\n", named), "the label column 'a' is a name, but there is no header row");
}

TEST(CsvReadTest, RefusalsNameTheLineOfTheFileAndTheColumn) {
  // Lines count the header and skipped empty lines, and the lines of a quoted
  // cell; the column's name is given when there is a header.
  EXPECT_EQ(Refusal("a,b\n\n1,\n"), "line 3, column 2 (b): empty cell");
  EXPECT_EQ(Refusal("a,b\n\"x\ny\",1\n2,NA\n", LabelColumn("1")), "line 4, column 2 (b): 'NA' is not a number");
  EXPECT_EQ(Refusal("1,2\n3,nan\n"), "line 2, column 2: 'nan' is not a finite number");
  EXPECT_EQ(Refusal("1,2\n-inf,3\n"), "line 2, column 1: '-inf' is not a finite number");
  EXPECT_EQ(Refusal("1,2\n1e999,3\n"), "line 2, column 1: '1e999' is out of range");
  EXPECT_EQ(Refusal("1,2\n0x10,3\n"), "line 2, column 1: '0x10' is not a number");
  EXPECT_EQ(Refusal("1,2\n\"\",3\n"), "line 2, column 1: empty cell");
  EXPECT_EQ(Refusal("1,2\n1e,3\n"), "line 2, column 1: '1e' is not a number");
  EXPECT_EQ(Refusal("1,2\n1 2,3\n"), "line 2, column 1: '1 2' is not a number");
  EXPECT_EQ(Refusal("1,2\n3\n"), "line 2: 1 cell where line 1 has 2");
  EXPECT_EQ(Refusal("1,2\n3,4,5,6\n"), "line 2: 4 cells where line 1 has 2");
  EXPECT_EQ(Refusal("1,2\n\"3\",4,5\n"), "line 2: 3 cells where line 1 has 2");
  EXPECT_EQ(Refusal("1,2\n3,\"4\n5,6\n"), "line 2, column 2: the quoted cell is not closed");
  EXPECT_EQ(Refusal("1,2\n\"3\"x,4\n"), "line 2, column 1: text after the closing quote");
  EXPECT_EQ(Refusal("1,2\n3,4\"\n\"5,6\n"), "line 2, column 2: a quote inside an unquoted cell (quote the whole cell)");
  EXPECT_EQ(Refusal(""), "the file holds no data, not even a header line");
  EXPECT_EQ(Refusal("\n\r\n"), "the file holds no data, not even a header line");
  EXPECT_EQ(Refusal("1,2\n3,\x01\x02" + std::string(60, 'z') + "\n"),
            "line 2, column 2: '??" + std::string(38, 'z') + "...' is not a number");

  // A header alone is a set of no rows.
  DataTable t = Read("a,b\n");
  EXPECT_EQ(t.data->MbrNdxRows, 0);
  EXPECT_EQ(t.data->MbrNdxInputs, 2);
}

TEST(CsvWriteTest, HeaderQuotingLabelsAndOutputs) {
  DataTable t = Read("\"a,1\",b,kind\n1.5,-2,\"x \"\"y\"\"\"\n0.1,1e-300,\n3,4, lead\n", LabelColumn("kind"));
  EXPECT_EQ(Write(t), "\"a,1\",b,kind\n1.5,-2,\"x \"\"y\"\"\"\n0.1,1e-300,\n3,4,lead\n");
  CsvOptions options;
  options.separator = ';';
  options.header = 0;
  EXPECT_EQ(Write(t, options), "1.5;-2;\"x \"\"y\"\"\"\n0.1;1e-300;\n3;4;lead\n");
  options.separator = '\t';
  options.header = 1;
  t.columnNames.clear();
  t.labelName.clear();
  EXPECT_EQ(Write(t, options), "x1\tx2\tlabel\n1.5\t-2\t\"x \"\"y\"\"\"\n0.1\t1e-300\t\n3\t4\tlead\n");

  // Several labels: the heaviest, the first of equal weights; labels with
  // line ends or leading blanks are quoted.
  Data data(3, 1, 0, true);
  TLabelList list;
  list.Add("small", 1.0);
  list.Add("big", 3.0);
  list.Add("bigger", 3.0);
  const double v[] = {1.0};
  data.AddRow(v, nullptr, &list);
  const TLabelList odd(" two\nlines", 1.0);
  data.AddRow(v, nullptr, &odd);
  data.AddRow(v, nullptr, nullptr);
  DataTable labelled;
  labelled.data = std::make_unique<Data>(3, 1, 0, true);
  for (int r = 0; r < 3; ++r) labelled.data->AddRow(v, nullptr, &data.MbrDyaLabels[r]);
  std::vector<std::string> warnings;
  EXPECT_EQ(Write(labelled, {}, &warnings), "1,big\n1,\" two\nlines\"\n1,\n");
  EXPECT_EQ(warnings, (std::vector<std::string>{"1 row has several labels; the label column holds the heaviest of each"}));

  // A label column alone: an unlabelled row is an empty quoted cell, not an
  // empty line (which reading skips).
  DataTable alone = Read("red\n\"\"\nblue\n", LabelColumn("1"));
  ASSERT_EQ(alone.data->MbrNdxRows, 3);
  EXPECT_EQ(Write(alone), "red\n\"\"\nblue\n");

  // Expected outputs follow the inputs, said in a warning.
  DataTable outputs;
  outputs.data = std::make_unique<Data>(1, 2, 1, false);
  const double in[] = {1, 2}, out[] = {0.5};
  outputs.data->AddRow(in, out, nullptr);
  outputs.columnNames = {"p", "q"};
  warnings.clear();
  EXPECT_EQ(Write(outputs, {}, &warnings), "p,q,x3\n1,2,0.5\n");
  EXPECT_EQ(warnings, (std::vector<std::string>{"the 1 expected output are written as ordinary columns after the inputs"}));
}

TEST(CsvRoundTripTest, ValuesOfFifteenDigitsComeBackBitForBit) {
  // Values a data set file holds are those of 15-digit texts; CSV keeps them.
  std::mt19937_64 random(11);
  DataTable table;
  table.data = std::make_unique<Data>(2000, 5, 0, true);
  char text[FileTools::GeneralNumberSize];
  for (int r = 0; r < 2000; ++r) {
    double row[5];
    for (double& v : row) {
      std::uint64_t bits = random();
      std::memcpy(&v, &bits, sizeof v);
      if (!std::isfinite(v)) v = static_cast<double>(bits >> 12) * 1e-300;
      const std::string_view s = FileTools::FormatGeneral(v, text);
      v = std::strtod(std::string(s).c_str(), nullptr);
    }
    std::string name = "l";
    name += std::to_string(r % 7);
    const TLabelList label(name, 1.0);
    table.data->AddRow(row, nullptr, r % 3 == 0 ? nullptr : &label);
  }
  const std::string csv = Write(table);
  DataTable back = Read(csv, LabelColumn("6"));
  ASSERT_EQ(back.data->MbrNdxRows, 2000);
  for (int r = 0; r < 2000; ++r) {
    ASSERT_EQ(std::memcmp(back.data->MbrDyaRtpInputs[r], table.data->MbrDyaRtpInputs[r], 5 * sizeof(double)), 0)
        << "row " << r;
    ASSERT_EQ(Label(*back.data, r), Label(*table.data, r));
  }
  EXPECT_EQ(Write(back), csv);
}

}  // namespace
