// CSV files as data sets (RFC 4180): quoted cells with embedded separators,
// doubled quotes and line ends, LF or CRLF lines, separator ',', ';' or tab.
//
// Reading:
// - The separator is the option's, else the one of ',', ';', tab that occurs
//   most often outside quotes in the first line (ties in that order; ','
//   when none occurs).
// - Header row: forced by the option, else line 1 is taken for column names
//   when none of its cells (the label column aside) is a number. A line 1
//   that mixes names and numbers is read as data and refused at its first
//   name, so a header is never mistaken silently for data or data for a
//   header. A file whose only column is the label column has no header
//   unless the option says so (nothing tells).
// - The label column (a 1-based number, or a header name) gives each row a
//   one-label list of weight 1.0; an empty label cell gives an empty list
//   (counted in a warning). All other cells are numbers (blanks around them
//   and a leading '+' allowed); empty cells, "NA", "nan", "inf" and other
//   non-numbers are refused.
// - Empty lines are skipped; a UTF-8 byte order mark is skipped; blanks
//   around unquoted cells are not part of them.
// - Errors name the line of the file (line 1 is the first line, the header
//   included) and the column (from 1, the label column included), with the
//   column's name when there is a header.
// Writing: inputs, then expected outputs (CSV cannot mark them: they read
// back as inputs), then the label column when the set has labels; numbers
// with 15 significant digits; '\n' line ends; cells quoted where needed.
// A row with several labels writes the heaviest (the first of equal
// weights); an empty list an empty cell.
//
// Both functions throw FileTools::Error whose message names line and column;
// warnings are appended to the table's (reading) or the given list (writing)
// as bare texts, without file or "warning:" prefix.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "Kohonen/Common/DataFiles.h"

namespace mapsmith {

// Reads a whole CSV text. The set has no output columns; it has labels when
// a label column was chosen. Throws FileTools::Error.
DataTable ReadCsv(std::istream& in, const CsvOptions& options);

// The number of records of a CSV text as ReadCsv takes them (empty lines
// skipped, a record whose quoted cells hold line ends counted once), the
// header line included.
std::int64_t CountCsvRecords(std::istream& in);

// Writes the CSV text `in` to `out` as the data set file that WriteDataSetFile
// writes for ReadCsv(in, options), a few thousand rows at a time instead of
// holding them all: `records` (CountCsvRecords of the same text) sizes the
// header before the rows are read. Returns false, having written part of a
// file at most, where ReadCsv must decide: a label column, no rows, more
// than kMaxCount rows or columns, or a text whose records are not `records`.
// Throws FileTools::Error as ReadCsv does, with ReadCsv's message.
bool StreamCsvToDataSet(std::istream& in, const CsvOptions& options, std::int64_t records, std::ostream& out);

// The cells of the first record of a CSV text (as read with `options`: the
// separator given, else found as Read finds it; quotes undone, blanks around
// unquoted cells dropped). Empty when the text holds no record, or its first
// record is malformed.
std::vector<std::string> CsvFirstRecord(std::string_view text, const CsvOptions& options);

// Writes `table` as CSV: a header row when options.header is 1, or -1 and
// the table has column names (missing names are made up as x1, x2, ...; the
// label column is called table.labelName, else "label").
void WriteCsv(std::ostream& out, const DataTable& table, const CsvOptions& options,
              std::vector<std::string>* warnings = nullptr);

}  // namespace mapsmith
