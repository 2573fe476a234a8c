#include "Kohonen/Common/DataSetFileEnds.h"

#include <ios>

#include "FileHandler/Filer.h"
#include "FileHandler/ParseTools.h"

namespace mapsmith {

bool ReadDataSetFileStart(std::istream& in, DataSetFileStart& start) {
  try {
    FileTools tools;
    FileTools::Tag tag;
    tools.ReadTag({}, in, false, tag);
    start.setName = FileTools::ExpectBlock(tag, in, "DATASET");
    if (ReadDataSetHeader(tools, in, start.inputs, start.expected, start.generated, start.errors, start.rows, tag) !=
        SUCCESS)
      return false;
    start.dataName = FileTools::ExpectBlock(tag, in, "DATA");
    const std::streampos at = in.tellg();
    if (start.rows < 0 || at == std::streampos(-1)) return false;
    start.dataStart = static_cast<std::int64_t>(at);
    return true;
  } catch (const FileTools::Error&) {
  } catch (const std::ios_base::failure&) {
  }
  return false;
}

bool EndsAsADataSetFile(std::istream& in, std::int64_t at, const std::string& setName, const std::string& dataName) {
  try {
    in.clear();
    if (!in.seekg(at, std::ios::beg)) return false;
    FileTools tools;
    ReadDataSetFileEnd(tools, in, setName, dataName);
    return !in.bad();
  } catch (const FileTools::Error&) {
  } catch (const std::ios_base::failure&) {
  }
  return false;
}

}  // namespace mapsmith
