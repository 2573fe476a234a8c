// The data set reader that tools stream files through, against the general
// reader: for every file it reads to the end it hands out what ReadDataSetFile
// reads, bit for bit, and each number's text as the writer writes it; on
// anything else it gives up. Which texts count as already written the
// writer's way is checked against the writer itself.
#include "Kohonen/Common/PlainDataSet.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "FileHandler/Filer.h"
#include "FileHandler/ParseTools.h"
#include "tests/TestFiles.h"

namespace {

using mapsmith::IsGeneralFormText;
using mapsmith::PlainDataSetReader;

std::string General(double value) {
  char buffer[FileTools::GeneralNumberSize];
  return std::string(FileTools::FormatGeneral(value, buffer));
}

std::string Header(int rows, int inputs) {
  return "[FormatVersion = 1.0]\n[DataSet]\n[Rows = " + std::to_string(rows) + "]\n[Inputs = " +
         std::to_string(inputs) + "]\n[ExpectedOutputs = 0]\n[GeneratedOutputs = 0]\n[Error = 0]\n\n[Data]\n";
}
const std::string kTrailer = "[~Data]\n\n[~DataSet]\n";

class PlainDataSetTest : public testfiles::TempDirTest {
 protected:
  struct Reading {
    bool finished = false;
    std::vector<double> values;
    std::string text;  // the rows' texts, one line each
  };

  static Reading ReadFast(const std::string& path) {
    Reading reading;
    PlainDataSetReader reader;
    if (!reader.Open(path)) return reading;
    std::vector<double> row(static_cast<std::size_t>(reader.Inputs()));
    std::vector<char> text(row.size() * (PlainDataSetReader::kLongestNumber + 1));
    for (std::int32_t r = 0; r < reader.Rows(); ++r) {
      const char* end = reader.NextRow(row.data(), text.data());
      if (end == nullptr) return reading;
      reading.values.insert(reading.values.end(), row.begin(), row.end());
      reading.text.append(text.data(), static_cast<std::size_t>(end - text.data()));
      reading.text += '\n';
    }
    reading.finished = reader.Finish();
    return reading;
  }

  // Reads `contents` with both readers: the fast one must read it to the end
  // and hand out the general reader's values, with the writer's texts.
  void ExpectReadAsTheGeneralReaderDoes(const std::string& contents) {
    const std::string path = Write("plain.dat", contents);
    const Reading fast = ReadFast(path);
    ASSERT_TRUE(fast.finished) << contents;
    FileTools tools;
    std::unique_ptr<Data> set, result;
    ASSERT_EQ(ReadDataSetFile(tools, path, set, result), SUCCESS) << contents;
    ASSERT_EQ(fast.values.size(), static_cast<std::size_t>(set->MbrNdxRows) * set->MbrNdxInputs);
    std::string text;
    for (std::int32_t r = 0; r < set->MbrNdxRows; ++r) {
      for (std::int32_t c = 0; c < set->MbrNdxInputs; ++c) {
        const double expected = set->MbrDyaRtpInputs[r][c];
        const double got = fast.values[static_cast<std::size_t>(r) * set->MbrNdxInputs + c];
        EXPECT_EQ(std::memcmp(&expected, &got, sizeof got), 0) << "row " << r << " column " << c << ": " << got;
        text += General(expected) + ' ';
      }
      text += '\n';
    }
    EXPECT_EQ(fast.text, text);
  }

  bool GivesUp(const std::string& contents) { return !ReadFast(Write("odd.dat", contents)).finished; }
};

TEST(GeneralFormTextTest, IsExactlyTheTextTheWriterWritesBack) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"0", true},         {"-0", true},       {"7", true},          {"-2.25", true},     {"0.0001", true},
      {"0.00001", false},  {"1.50", false},    {"01.5", false},      {".5", false},       {"1.", false},
      {"0.0", false},      {"00", false},      {"-", false},         {"", false},         {"1e5", false},
      {"+1", false},       {"100", true},      {"123456789012345", true},                 {"1234567890123456", false},
      {"0.123456789012345", true},             {"0.1234567890123456", false},             {"-0.0936554006967539", true},
      {"1.23456789012345", true},              {"12345678.9012345", true},                {"12345678.90123456", false},
      {"0.000123456789012345", true},          {"0.0001234567890123456", false},
  };
  for (const auto& [text, general] : cases) {
    EXPECT_EQ(IsGeneralFormText(text), general) << text;
    if (general) {
      EXPECT_EQ(General(std::strtod(text.c_str(), nullptr)), text);
    }
  }

  // Plain decimals of every shape: the test says yes exactly when the writer
  // writes the text back unchanged.
  std::mt19937_64 bits(20261209);
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t r = bits();
    std::string text = (r & 1) ? "-" : "";
    const int whole = static_cast<int>((r >> 1) % 18);
    const int after = static_cast<int>((r >> 6) % 20);
    const bool point = ((r >> 11) & 3) != 0;
    for (int d = 0; d < whole; ++d) text += static_cast<char>('0' + (d == 0 && (r >> 13) % 3 ? (bits() % 9) + 1 : bits() % 10));
    if (point) {
      text += '.';
      for (int d = 0; d < after; ++d) text += static_cast<char>('0' + ((r >> 15) % 4 && d < 3 ? 0 : bits() % 10));
    }
    if (whole == 0 || (point && after == 0)) {
      EXPECT_FALSE(IsGeneralFormText(text)) << text;
      continue;
    }
    EXPECT_EQ(IsGeneralFormText(text), General(std::strtod(text.c_str(), nullptr)) == text) << text;
  }
  // And what the writer writes without an exponent passes, at every magnitude.
  for (int i = 0; i < 200000; ++i) {
    // 53 random bits at a binary magnitude between 2^-60 and 2^60.
    const double value = std::ldexp(static_cast<double>(bits() >> 11), static_cast<int>(bits() % 121) - 113);
    const std::string text = General(value);
    if (text.find('e') == std::string::npos) {
      EXPECT_TRUE(IsGeneralFormText(text)) << text;
    }
  }
}

TEST_F(PlainDataSetTest, HandsOutTheGeneralReadersValuesAndTheWritersTexts) {
  // Number forms the general reader takes, some converted past the fast
  // path; blanks, tabs, CRLF and rows that do not keep to lines.
  ExpectReadAsTheGeneralReaderDoes(
      Header(9, 3) +
      "0 -0 1.5 -2.25\n.5 1. 007 1.50\r\n0.00001 1e-05 1.5E3 +4\n"
      "123456789012345678 0.1234567890123456789 4.9e-324 1e-400\n-1e-400\t2.2250738585072014e-308 "
      "9007199254740993 0.30000000000000004 1.7976931348623157e308 -0.0936554006967539\n12 0.000123 "
      "99999999999999.9 1e15 1.5e \n" +
      kTrailer);
  // An empty set, and comments around the header and after the trailer.
  ExpectReadAsTheGeneralReaderDoes("/* before */" + Header(0, 3) + kTrailer + "/* after */\n");

  // Many rows: the buffer is refilled in the middle of numbers.
  std::mt19937_64 bits(7);
  std::string rows;
  for (int r = 0; r < 6000; ++r) {
    for (int c = 0; c < 33; ++c) {
      const double value = std::ldexp(static_cast<double>(bits() >> 11), -static_cast<int>(bits() % 60));
      rows += General((bits() & 1) ? -value : value) + (c % 7 == 6 ? "  " : " ");
    }
    rows += r % 3 ? "\n" : "\r\n";
  }
  ExpectReadAsTheGeneralReaderDoes(Header(6000, 33) + rows + kTrailer);
}

TEST_F(PlainDataSetTest, GivesUpOnWhatItDoesNotReadAtSpeed) {
  const std::string two = "1 2\n3 4\n";
  const std::vector<std::string> odd = {
      // Headers with more than input columns, or none.
      "[DataSet][Rows = 2][Inputs = 1][ExpectedOutputs = 1][Data]" + two + kTrailer,
      "[DataSet][Rows = 2][Inputs = 2][ExpectedOutputs = Labels][Data]1 2 [a] 3 4 [b]" + kTrailer,
      "[DataSet][Rows = 2][Inputs = 1][GeneratedOutputs = 0][Error = 1][Data]" + two + kTrailer,
      "[DataSet][Rows = 2][Inputs = 0][Data]" + kTrailer,
      "[DataSet][Inputs = 2][Data]" + two + kTrailer,
      "[Network]" + two,
      // Rows the general reader reads another way, or refuses.
      Header(2, 2) + "1 /* two */ 2\n3 4\n" + kTrailer,
      Header(2, 2) + "1,2\n3 4\n" + kTrailer,
      Header(2, 2) + "1 nan\n3 4\n" + kTrailer,
      Header(2, 2) + "1 inf\n3 4\n" + kTrailer,
      Header(2, 2) + "1 1e999\n3 4\n" + kTrailer,
      Header(2, 2) + "1 x\n3 4\n" + kTrailer,
      Header(2, 2) + "1 -\n3 4\n" + kTrailer,
      Header(2, 2) + "1 2\n3 4[~Data][~DataSet]",
      Header(2, 2) + "1 2\n3 " + std::string(100, '5') + "\n" + kTrailer,
      // Short, long or unfinished files.
      Header(3, 2) + two + kTrailer,
      Header(1, 2) + two + kTrailer,
      Header(2, 2) + two,
      Header(2, 2) + "1 2\n3 4",
      Header(2, 2) + two + kTrailer + "5\n",
      Header(2, 2) + two + "[~Data]\n",
  };
  for (const std::string& contents : odd) EXPECT_TRUE(GivesUp(contents)) << contents;

  // Files that are not regular files, or not there.
  PlainDataSetReader device;
  EXPECT_FALSE(device.Open("/dev/null"));
  PlainDataSetReader directory;
  EXPECT_FALSE(directory.Open(dir_.string()));
  PlainDataSetReader missing;
  EXPECT_FALSE(missing.Open(Path("missing.dat")));
  const std::string fifo = Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  PlainDataSetReader pipe;
  EXPECT_FALSE(pipe.Open(fifo));  // refused before any read, which would block
}

}  // namespace
