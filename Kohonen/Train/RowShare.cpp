#include "Kohonen/Train/RowShare.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <utility>

#include "FileHandler/Filer.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/DataSetFileEnds.h"
#include "NeuralNets/TrainingParts.h"

namespace mapsmith {

namespace {

constexpr const char* kOrigin = "TrainMap";
constexpr std::size_t kReadBuffer = std::size_t{1} << 20;

// A file opened for reading with a large buffer, or a RunError saying why not.
class InputFile {
 public:
  explicit InputFile(const std::string& path) : buffer_(kReadBuffer) {
    in_.rdbuf()->pubsetbuf(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    in_.open(path, std::ios::in | std::ios::binary);
    if (!in_.is_open()) throw RunError{path, "cannot open: " + std::string(std::strerror(errno))};
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) throw RunError{path, "is a directory"};
  }
  std::ifstream& Stream() { return in_; }

 private:
  std::vector<char> buffer_;
  std::ifstream in_;
};

// What every process learns of the file before reading rows in place (sent
// as bytes: no padding between the fields).
struct Probe {
  long long size = -1;       // bytes
  long long dataStart = -1;  // offset of the character after the Data block start
  long long rows = -1;       // as the header says
  long long usable = 0;      // 1 when the start reads as a data set file's
};

// The file's size and the start of its rows, read as ReadDataSetChunk reads
// them. A start that does not read is not an error here: the whole-file
// reading that follows gives the file's own message.
Probe ProbeFile(const std::string& path, std::string& setName, std::string& dataName) {
  InputFile file(path);
  std::ifstream& in = file.Stream();
  Probe probe;
  in.seekg(0, std::ios::end);
  probe.size = static_cast<long long>(in.tellg());
  in.seekg(0, std::ios::beg);
  if (probe.size < 0 || !in) return probe;
  DataSetFileStart start;
  if (!ReadDataSetFileStart(in, start)) return probe;
  setName = std::move(start.setName);
  dataName = std::move(start.dataName);
  probe.rows = start.rows;
  probe.dataStart = start.dataStart;
  probe.usable = 1;
  return probe;
}

// Calls see(chunk, length, offset) for the bytes [from, to) of the file.
template <class See>
void ScanBytes(std::ifstream& in, long long from, long long to, See see) {
  std::vector<char> chunk(kReadBuffer);
  in.clear();
  in.seekg(from, std::ios::beg);
  for (long long at = from; at < to;) {
    const auto want = static_cast<std::streamsize>(std::min<long long>(to - at, static_cast<long long>(chunk.size())));
    in.read(chunk.data(), want);
    const std::streamsize got = in.gcount();
    if (got <= 0) break;
    if (!see(chunk.data(), static_cast<std::size_t>(got), at)) return;
    at += got;
  }
}

long long CountLineEnds(std::ifstream& in, long long from, long long to) {
  long long count = 0;
  ScanBytes(in, from, to, [&](const char* p, std::size_t n, long long) {
    count += std::count(p, p + n, '\n');
    return true;
  });
  return count;
}

// The offset just after the k-th (from 1) line end in [from, to), or -1.
long long AfterLineEnd(std::ifstream& in, long long from, long long to, long long k) {
  long long found = -1;
  ScanBytes(in, from, to, [&](const char* p, std::size_t n, long long at) {
    for (const char* q = p; (q = static_cast<const char*>(std::memchr(q, '\n', n - (q - p)))) != nullptr; ++q)
      if (--k == 0) {
        found = at + (q - p) + 1;
        return false;
      }
    return true;
  });
  return found;
}

bool OnlyBlanks(std::ifstream& in, long long from, long long to) {
  bool blank = true;
  ScanBytes(in, from, to, [&](const char* p, std::size_t n, long long) {
    for (std::size_t i = 0; i < n; ++i)
      if (p[i] != ' ' && p[i] != '\t' && p[i] != '\r' && p[i] != '\n') return blank = false;
    return true;
  });
  return blank;
}

struct Span {
  long long start = -1;  // offsets from the data start
  long long end = -1;
};

// Reads the rows of this process in place. False when the file does not
// lay its rows out as expected (nothing is thrown for that).
bool ReadInPlace(ProcessGroup& group, const std::string& path, const Probe& probe, const std::string& setName,
                 const std::string& dataName, RowShare& share, int numInputs) {
  const int P = group.Size();
  const int p = group.Rank();
  const long long D = probe.dataStart;
  const long long S = probe.size;
  const long long count = share.firsts[p + 1] - share.firsts[p];

  // Line ends in each process's part of the data.
  std::vector<long long> cut(static_cast<std::size_t>(P) + 1);
  for (int q = 0; q <= P; ++q) cut[q] = D + (S - D) * q / P;
  long long mine = 0;
  bool ok = true;
  Together(group, [&] {
    InputFile file(path);
    mine = CountLineEnds(file.Stream(), cut[p], cut[p + 1]);
  });
  const std::vector<long long> lineEnds = GatherToAll(group, mine);

  // Row i starts after the (i + 1)-th line end from the data start; the first
  // process starts right at the data start.
  Span span;
  std::unique_ptr<Data> example, result;
  Together(group, [&] {
    InputFile file(path);
    std::ifstream& in = file.Stream();
    if (count == 0) return;
    if (p == 0) {
      span.start = 0;
    } else {
      long long k = share.firsts[p] + 1;
      int q = 0;
      while (q < P && k > lineEnds[q]) k -= lineEnds[q++];
      const long long after = q < P ? AfterLineEnd(in, cut[q], cut[q + 1], k) : -1;
      if (after < 0) {
        ok = false;
        return;
      }
      span.start = after - D;
    }
    try {
      FileTools tools;
      int64_t offset = span.start;
      in.clear();
      in.seekg(0, std::ios::beg);
      if (ReadDataSetChunk(tools, in, offset, static_cast<int32_t>(count), example, result) != SUCCESS || !example)
        ok = false;
      span.end = offset;
    } catch (const FileTools::Error&) {
      ok = false;
    } catch (const std::ios_base::failure&) {
      ok = false;
    }
  });

  // Each share must end where the next one starts, the last where the file ends.
  const std::vector<Span> spans = GatherToAll(group, span);
  Together(group, [&] {
    if (!ok || count == 0) return;
    InputFile file(path);
    std::ifstream& in = file.Stream();
    const bool lastWithRows = p + 1 == P || share.firsts[p + 2] == share.firsts[p + 1];
    if (lastWithRows)
      ok = EndsAsADataSetFile(in, D + span.end, setName, dataName);
    else
      ok = spans[p + 1].start >= span.end && OnlyBlanks(in, D + span.end, D + spans[p + 1].start);
  });
  std::vector<char> oks = GatherToAll(group, static_cast<char>(ok));
  if (std::find(oks.begin(), oks.end(), 0) != oks.end()) return false;

  // What is wrong with the rows is the file's fault, not the process's.
  Together(
      group,
      [&] {
        if (count == 0) return;
        WithFile(path, [&] { share.rows = CollectRows(*example, numInputs, kOrigin, share.firsts[p]); });
      },
      false);
  share.data = std::move(example);
  share.readInPlace = true;
  if (count == 0) share.rows.numInputs = numInputs;
  return true;
}

// Process 0 reads the whole file, checks it and sends each process its rows.
void ReadAndSend(ProcessGroup& group, const std::string& path, FileFormat format, const CsvOptions& csv,
                 RowShare& share, int numInputs) {
  const int P = group.Size();
  const int p = group.Rank();
  DataTable table;
  TRowSource all;
  long long total = 0;
  Together(group, [&] {
    if (p != 0) return;
    table = ReadDataFile(path, format, csv);
    WithFile(path, [&] {
      if (table.data->MbrNdxRows <= 0 || table.data->MbrNdxDataRows <= 0)
        RefuseRun("The data set has no rows", kOrigin);
      all = CollectRows(*table.data, numInputs, kOrigin);
    });
    total = all.Count();
  });
  group.Broadcast(0, &total, sizeof total);
  share.firsts = RowFirsts(total, P);

  const std::size_t n = static_cast<std::size_t>(numInputs);
  auto pack = [&](int q, std::vector<double>& to) {
    const long long first = share.firsts[q];
    const long long end = share.firsts[q + 1];
    to.resize(static_cast<std::size_t>(end - first) * n);
    for (long long r = first; r < end; ++r)
      std::copy_n(all.rows[static_cast<std::size_t>(r)], n, to.begin() + static_cast<std::ptrdiff_t>((r - first) * n));
  };
  if (p == 0) {
    std::vector<double> theirs;
    for (int q = 1; q < P; ++q) {
      pack(q, theirs);
      SendValues(group, q, theirs);
    }
    pack(0, share.values);
    share.warnings = std::move(table.warnings);
    all = TRowSource();
    table = DataTable();  // process 0 keeps only its own rows too
  } else {
    ReceiveValues(group, 0, share.values);
  }
  const long long count = share.firsts[p + 1] - share.firsts[p];
  share.rows = CollectRows(share.values.data(), count, numInputs, kOrigin, share.firsts[p]);
}

}  // namespace

std::vector<long long> RowFirsts(long long total, int processes) {
  const long long blocks = BlockCount(total);
  std::vector<long long> firsts(static_cast<std::size_t>(processes) + 1);
  for (int p = 0; p < processes; ++p)
    firsts[p] = std::min(total, BlocksOfPart(blocks, processes, p).first * kTrainingBlockRows);
  firsts[processes] = total;
  return firsts;
}

RowShare ReadRowShare(ProcessGroup& group, const std::string& path, const DataInputChoice& input,
                      int numInputs) {
  RowShare share;
  // What is not a regular file on process 0 (a pipe, its standard input) can
  // be read once only: process 0 reads it, the others do not touch the name.
  long long regular = 0;
  if (group.Rank() == 0) regular = IsRegularFile(path) ? 1 : 0;
  group.Broadcast(0, &regular, sizeof regular);
  if (regular == 0) {
    ReadAndSend(group, path, input.format, input.csv, share, numInputs);
    return share;
  }

  // Every process must see the same kind of file.
  FileFormat format = input.format;
  Together(group, [&] {
    if (format == FileFormat::Unknown) format = DetectFormat(path);
  });
  const std::vector<FileFormat> formats = GatherToAll(group, format);
  Together(group, [&] {
    for (int q = 1; q < group.Size(); ++q)
      if (formats[q] != formats[0])
        throw RunError{path, "is not the same file on every process: it reads as another kind of file on process " +
                                 std::to_string(q)};
  });

  if (format == FileFormat::DataSet) {
    std::string setName, dataName;
    Probe probe;
    Together(group, [&] { probe = ProbeFile(path, setName, dataName); });
    const std::vector<Probe> probes = GatherToAll(group, probe);
    Together(group, [&] {
      for (int q = 1; q < group.Size(); ++q)
        if (probes[q].size != probes[0].size)
          throw RunError{path, "is not the same file on every process: " + std::to_string(probes[0].size) +
                                   " bytes on process 0, " + std::to_string(probes[q].size) + " on process " +
                                   std::to_string(q)};
    });
    bool usable = true;
    for (const Probe& q : probes)
      usable = usable && q.usable == 1 && q.rows > 0 && q.rows == probes[0].rows && q.dataStart == probes[0].dataStart;
    if (usable) {
      share.firsts = RowFirsts(probes[0].rows, group.Size());
      if (ReadInPlace(group, path, probe, setName, dataName, share, numInputs)) return share;
      share = RowShare();
    }
  }
  ReadAndSend(group, path, format, input.csv, share, numInputs);
  return share;
}

}  // namespace mapsmith
