// Data set files: one or two data sets with the same number of rows (the
// example set and the result set) in the tagged text syntax, read whole or in
// chunks, written, and probed for their kind and sizes.
//
// Contracts for callers:
// - The sets handed out (out parameters) are new objects owned by the caller,
//   or null for a set the file does not hold. A reader that throws leaves the
//   sets created so far with the caller, partly filled.
// - Malformed content throws FileTools::Error; refusals of Data pass through.
// - A file that cannot be read (it cannot be opened, is a directory, or a read
//   fails part-way: the stream's buffer throws std::ios_base::failure, as a
//   file stream's buffer does on an I/O error) gives ERR_OPEN and no sets;
//   the probe answers "file-read-error".
// - Declared sizes are checked before storage is made: when the sets would
//   take more than 1 MiB, a stream that can tell its size must hold at least
//   one character per number and two per label list of the declared rows
//   ("Data set larger than the file"); from a stream that cannot (a pipe),
//   the sets are made once the first row has arrived and grow as rows arrive.
//   A failed allocation is "Data set too large". A header that declares no
//   columns and no labels reads no rows, whatever its row count.
// - Optional messages are taken over and dropped at entry; nothing is written
//   into them. Callers pass none.
// - Every file-name operation has a stream form that does the same work on an
//   open stream (the file forms open the file and call it).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

#include "DataObject/Data.h"
#include "DataObject/Labels.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/KQML.h"
#include "KQmessage/TException.h"

// Return codes of the data set file operations.
constexpr int32_t SUCCESS = 0;
constexpr int32_t ERR_OPEN = -81;    // the file cannot be opened for reading
// ERR_FORMAT: a malformed header (ReadDataSetHeader); a result set where only
// an example set was asked for (ReadExampleSetFile); for the writers, a set
// with labels that also has the columns the labels stand in for, or a label
// name the format cannot carry (IsWritableLabelName).
constexpr int32_t ERR_FORMAT = -82;
constexpr int32_t ERR_ROWS = -83;    // nothing to write, or the two sets differ in row count
constexpr int32_t ERR_WRITE = -84;   // the file cannot be created or appended to, or a write failed

// ---- Reading ----

// Reads a whole file. SUCCESS or ERR_OPEN.
int32_t ReadDataSetFile(FileTools& tools, const std::string& fileName, std::unique_ptr<Data>& exampleSet,
                        std::unique_ptr<Data>& resultSet, std::unique_ptr<TKQstructure> message = nullptr);
int32_t ReadDataSetFile(FileTools& tools, std::istream& in, std::unique_ptr<Data>& exampleSet,
                        std::unique_ptr<Data>& resultSet);

// As ReadDataSetFile for the example set only: ERR_FORMAT when the file holds
// a result set too (the example set is still handed out).
int32_t ReadExampleSetFile(FileTools& tools, const std::string& fileName, std::unique_ptr<Data>& exampleSet);

// Reads `rows` rows starting `offset` bytes after the start of the Data block,
// into sets of `rows` rows. On return `offset` is where the next chunk starts.
// The last chunk must ask for no more rows than remain. SUCCESS or ERR_OPEN.
int32_t ReadDataSetChunk(FileTools& tools, const std::string& fileName, int64_t& offset, int32_t rows,
                         std::unique_ptr<Data>& exampleSet, std::unique_ptr<Data>& resultSet);
int32_t ReadDataSetChunk(FileTools& tools, std::istream& in, int64_t& offset, int32_t rows,
                         std::unique_ptr<Data>& exampleSet, std::unique_ptr<Data>& resultSet);
int32_t ReadExampleSetChunk(FileTools& tools, const std::string& fileName, int64_t& offset, int32_t rows,
                            std::unique_ptr<Data>& exampleSet);

// Reads the header tags that follow the "DataSet" block start: the counts of
// inputs, expected outputs, generated outputs and error values (-1 for
// labels) and the number of rows (-1 when absent). The column keywords are
// optional but must come in that order; Rows may stand anywhere. `next`
// receives the tag that ended the header. SUCCESS, or ERR_FORMAT at an open
// tag, an unknown keyword or a column keyword out of order.
int32_t ReadDataSetHeader(FileTools& tools, std::istream& in, int32_t& inputs, int32_t& expectedOutputs,
                          int32_t& generatedOutputs, int32_t& errors, int32_t& rows, FileTools::Tag& next);

// Reads a label list "[name name=weight ...]" (a name alone weighs 1.0);
// separators and comments before it are skipped. Repeated names add up.
std::unique_ptr<TLabelList> ReadLabelList(FileTools& tools, std::istream& in);

// Reads what must follow a data set file's last row: the end of the Data
// block named `dataName`, the end of the set named `setName` (the names as
// the file's block starts wrote them), then nothing but blanks and comments.
// Throws FileTools::Error, with ReadDataSetFile's message, where anything
// else follows.
void ReadDataSetFileEnd(FileTools& tools, std::istream& in, const std::string& setName, const std::string& dataName);

// ---- Writing ----

// Whether a label list in a file can carry `name`: one or more printable
// ASCII characters (33 to 126) other than the comma and "[]/*=<>". Any other
// name would read back as other labels, or not at all.
bool IsWritableLabelName(std::string_view name);

// Writes `labels` on the current line: "[", each label as "name " (weight
// exactly 1.0) or "name=weight " (9 digits after the point), then "] ".
// Every name must be writable (IsWritableLabelName).
void WriteLabels(FileTools& tools, std::ostream& out, const TLabelList& labels);

// Writes a whole file from an example set and/or a result set. A set with
// labels must have no output columns (example set) or no input columns
// (result set), and every label name must be writable (IsWritableLabelName),
// else ERR_FORMAT before anything is written. SUCCESS, ERR_ROWS, ERR_FORMAT
// or ERR_WRITE.
int32_t WriteDataSetFile(FileTools& tools, const std::string& fileName, const Data* exampleSet,
                         const Data* resultSet, std::unique_ptr<TKQstructure> message = nullptr);
int32_t WriteDataSetFile(FileTools& tools, std::ostream& out, const Data* exampleSet, const Data* resultSet);

// The three steps of WriteDataSetFile. The header creates (or replaces) the
// file; rows and trailer append to it. E and G are -1 for labels.
//
// Failing disks: the file-name writers never leave a partly written file.
// WriteDataSetFile and WriteDataSetHeader write a temporary file beside the
// target and rename it over the target once complete (mapsmith::AtomicFile:
// permission bits kept, symbolic links followed, files that are not regular
// written directly); WriteDataSetRows and WriteDataSetTrailer cut the file
// back to its former length when their append fails (mapsmith::AppendingFile).
// ERR_WRITE then, and the file is as it was.
int32_t WriteDataSetHeader(FileTools& tools, const std::string& fileName, int32_t inputs, int32_t expectedOutputs,
                           int32_t generatedOutputs, int32_t errors, int32_t rows);
int32_t WriteDataSetHeader(FileTools& tools, std::ostream& out, int32_t inputs, int32_t expectedOutputs,
                           int32_t generatedOutputs, int32_t errors, int32_t rows);
// Writes every row of the storage in row-number order (also rows never added,
// and a wrapped window from row 0, not from its oldest row). ERR_FORMAT, with
// nothing written, as for WriteDataSetFile.
int32_t WriteDataSetRows(FileTools& tools, const std::string& fileName, const Data* exampleSet,
                         const Data* resultSet, std::unique_ptr<TKQstructure> message = nullptr);
int32_t WriteDataSetRows(FileTools& tools, std::ostream& out, const Data* exampleSet, const Data* resultSet);
int32_t WriteDataSetTrailer(FileTools& tools, const std::string& fileName);
int32_t WriteDataSetTrailer(FileTools& tools, std::ostream& out);

// ---- Probing ----

// What kind of file this is, as a reply owned by the caller: "file-read-error"
// when it cannot be opened; for a data set file "(data :rows R :inputs I
// :actual-outputs E :calc-outputs G :errors X)" with the header's raw values,
// or the error "bad-header"; the atom "network" for a Network block; else the
// error "unknown-header" with "header" = the block name. Failures of the
// tagged text layer are thrown as FileTools::Error.
std::unique_ptr<TKQstructure> ProbeFile(FileTools& tools, const std::string& fileName);
std::unique_ptr<TKQstructure> ProbeFile(FileTools& tools, std::istream& in);
