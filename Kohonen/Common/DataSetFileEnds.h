// The start and the end of a data set file as the general reader
// (ReadDataSetFile) reads them, for tools that read the rows in between
// themselves: MapsmithMap streaming a file, MapsmithTrainMPI's processes
// each reading their share in place. Neither throws: a file that does not
// read here is left to the general reader, which gives its own message.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace mapsmith {

// What a data set file's start declares, and where its rows begin.
struct DataSetFileStart {
  std::int64_t dataStart = -1;  // offset of the character after the Data block start
  std::int32_t rows = -1;
  std::int32_t inputs = 0, expected = 0, generated = 0, errors = 0;  // as ReadDataSetHeader gives them
  std::string setName, dataName;  // the block names as the file writes them
};

// Reads the DataSet block start, the header and the Data block start from
// `in`'s current position. False when they do not read as the general reader
// takes them, the header names no row count, or the stream cannot tell its
// position.
bool ReadDataSetFileStart(std::istream& in, DataSetFileStart& start);

// Whether what stands at offset `at` of `in` ends the file as the general
// reader wants it: the end of the Data block named `dataName`, of the set
// named `setName`, then nothing but blanks and comments.
bool EndsAsADataSetFile(std::istream& in, std::int64_t at, const std::string& setName, const std::string& dataName);

}  // namespace mapsmith
