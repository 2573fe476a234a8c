// Arbitrary bytes as a data set file read by the reader that tools stream
// files through, and mapped as MapsmithMap maps a file as it reads it. When
// that reader reads the file to the end, the general reader must read it too,
// with the same values bit for bit, each number's text must be the writer's
// text for its value, and the mapped rows must be byte for byte what writing
// WinnerCoordinates of the general reader's set gives. Giving up is always
// allowed; crashing never.
//
// An input that starts with '[', '/' or a blank is the whole file. Any other
// input's first two bytes choose the rows (1-64) and inputs (1-8) of a
// header put before the rest, and the end tags are put after it, so that
// the fuzzer spends its time on the rows.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/Filer.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/PlainDataSet.h"
#include "Kohonen/Map/StreamedMapping.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// A 2 x 3 map of `inputs` inputs, made once per input count.
TKohonenNetwork& MapOf(int inputs) {
  static std::map<int, std::unique_ptr<TKohonenNetwork>> maps;
  std::unique_ptr<TKohonenNetwork>& map = maps[inputs];
  if (map == nullptr) {
    int dims[2] = {2, 3};
    map = std::make_unique<TKohonenNetwork>(inputs, 2, dims);
    SeedRandom(static_cast<unsigned>(inputs));
    map->Randomize(-2, 2);
  }
  return *map;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (size >= 2 && data[0] != '[' && data[0] != '/' && data[0] != ' ' && data[0] != '\t' && data[0] != '\n' &&
      data[0] != '\r') {
    const int rows = 1 + data[0] % 64;
    const int inputs = 1 + data[1] % 8;
    bytes = "[DataSet] [Rows = " + std::to_string(rows) + "] [Inputs = " + std::to_string(inputs) + "] [Data]\n" +
            bytes.substr(2) + "\n[~Data] [~DataSet]\n";
  }
  // The file lives in memory: a memfd is a regular file with a path.
  const int fd = ::memfd_create("plain", MFD_CLOEXEC);
  Check(fd >= 0);
  Check(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  mapsmith::PlainDataSetReader reader;
  std::vector<double> values;
  std::string texts;
  bool finished = false;
  if (reader.Open(path)) {
    std::vector<double> row(static_cast<std::size_t>(reader.Inputs()));
    std::vector<char> text(row.size() * (mapsmith::PlainDataSetReader::kLongestNumber + 1));
    std::int32_t r = 0;
    for (; r < reader.Rows(); ++r) {
      const char* end = reader.NextRow(row.data(), text.data());
      if (end == nullptr) break;
      values.insert(values.end(), row.begin(), row.end());
      texts.append(text.data(), static_cast<std::size_t>(end - text.data()));
    }
    finished = r == reader.Rows() && reader.Finish();
  }
  if (!finished) {
    ::close(fd);
    return 0;
  }

  FileTools tools;
  std::unique_ptr<Data> set, result;
  Check(ReadDataSetFile(tools, path, set, result) == SUCCESS);
  Check(set != nullptr && result == nullptr && !set->MbrHasLabels && set->MbrNdxOutputs == 0);
  Check(values.size() == static_cast<std::size_t>(set->MbrNdxRows) * set->MbrNdxInputs);
  std::string expected;
  char number[FileTools::GeneralNumberSize];
  for (std::int32_t r = 0; r < set->MbrNdxRows; ++r)
    for (std::int32_t c = 0; c < set->MbrNdxInputs; ++c) {
      const double v = set->MbrDyaRtpInputs[r][c];
      Check(std::memcmp(&v, &values[static_cast<std::size_t>(r) * set->MbrNdxInputs + c], sizeof v) == 0);
      expected += FileTools::FormatGeneral(v, number);
      expected += ' ';
    }
  Check(texts == expected);

  // The mapped rows, as read and as the whole set.
  if (set->MbrNdxInputs <= 8) {
    TKohonenNetwork& map = MapOf(set->MbrNdxInputs);
    // In memory where there is such a file system: the output is synced.
    static const std::string dir = [] {
      const std::filesystem::path base =
          std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
      const std::string d = (base / ("fuzz-plain-" + std::to_string(::getpid()))).string();
      std::filesystem::create_directories(d);
      return d;
    }();
    const std::string out = dir + "/out.dat";
    Check(mapsmith::MapRowsAsRead(map, path, mapsmith::WinnerColumns::Coordinates, out));
    std::unique_ptr<Data> coords = map.WinnerCoordinates(set.get());
    std::ostringstream whole;
    Check(WriteDataSetFile(tools, whole, coords.get(), nullptr) == SUCCESS);
    Check(ReadAll(out) == whole.str());
  }
  ::close(fd);
  return 0;
}
