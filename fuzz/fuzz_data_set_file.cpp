// Arbitrary bytes probed and read as a data set file, from memory. Whatever
// reads must write again and read back the same: the sets' shapes and labels
// agree, the text written from a set read back is stable, the probe of the
// written text reports the same sizes, and reading that text one row per
// chunk gives the same rows as reading it whole. The same bytes read through
// a stream that cannot tell its size (a pipe, whose sets grow as rows
// arrive) give the same sets whenever both readings succeed. Malformed input
// may only be refused with FileTools::Error.
//
// Sizes of any magnitude are allowed: the reader must refuse what the input
// cannot hold before allocating it. Run with a memory limit, e.g.
// -rss_limit_mb=2048 -malloc_limit_mb=1024.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>

#include "FileHandler/Filer.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void CheckSameShape(const Data* a, const Data* b) {
  Check((a == nullptr) == (b == nullptr));
  if (a == nullptr) return;
  Check(a->MbrNdxRows == b->MbrNdxRows && a->MbrNdxInputs == b->MbrNdxInputs &&
        a->MbrNdxOutputs == b->MbrNdxOutputs && a->MbrHasLabels == b->MbrHasLabels);
  for (size_t r = 0; r < a->MbrDyaLabels.size(); ++r) {
    const auto& x = a->MbrDyaLabels[r].labels;
    const auto& y = b->MbrDyaLabels[r].labels;
    Check(x.size() == y.size());
    for (size_t i = 0; i < x.size(); ++i) Check(x[i].name == y[i].name);
  }
}

// Row `row` of `whole` equals row 0 of `chunk`, bit for bit.
void CheckSameRow(const Data* whole, int32_t row, const Data* chunk) {
  Check((whole == nullptr) == (chunk == nullptr));
  if (whole == nullptr) return;
  Check(chunk->MbrNdxRows == 1);
  for (int32_t c = 0; c < whole->MbrNdxInputs; ++c)
    Check(SameBits(whole->MbrDyaRtpInputs[row][c], chunk->MbrDyaRtpInputs[0][c]));
  for (int32_t c = 0; c < whole->MbrNdxOutputs; ++c)
    Check(SameBits(whole->MbrDyaRtpOutputs[row][c], chunk->MbrDyaRtpOutputs[0][c]));
  if (!whole->MbrHasLabels) return;
  const auto& x = whole->MbrDyaLabels[row].labels;
  const auto& y = chunk->MbrDyaLabels[0].labels;
  Check(x.size() == y.size());
  for (size_t i = 0; i < x.size(); ++i) Check(x[i].name == y[i].name && SameBits(x[i].value, y[i].value));
}

// Delivers a text a few characters at a time and cannot seek, like a pipe.
class PipeBuffer : public std::streambuf {
 public:
  explicit PipeBuffer(const std::string& text) : text_(text) { setg(text_.data(), text_.data(), text_.data()); }

 protected:
  int_type underflow() override {
    char* const end = text_.data() + text_.size();
    if (gptr() == end) return traits_type::eof();
    char* const next = gptr();
    setg(text_.data(), next, next + std::min<std::ptrdiff_t>(5, end - next));
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::string text_;
};

std::string Written(FileTools& tools, const Data* a, const Data* b) {
  std::ostringstream out;
  Check(WriteDataSetFile(tools, out, a, b) == SUCCESS);
  return out.str();
}

void Reread(FileTools& tools, const std::string& text, std::unique_ptr<Data>& a, std::unique_ptr<Data>& b) {
  std::istringstream in(text);
  Check(ReadDataSetFile(tools, in, a, b) == SUCCESS);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  FileTools tools;
  try {
    std::istringstream in(bytes);
    ProbeFile(tools, in);
  } catch (const FileTools::Error&) {
  }

  std::unique_ptr<Data> a, b;
  try {
    std::istringstream in(bytes);
    ReadDataSetFile(tools, in, a, b);
  } catch (const FileTools::Error&) {
    return 0;
  }
  {
    PipeBuffer pipe(bytes);
    std::istream piped(&pipe);
    std::unique_ptr<Data> pa, pb;
    ReadDataSetFile(tools, piped, pa, pb);  // a refusal here is a finding
    CheckSameShape(a.get(), pa.get());
    CheckSameShape(b.get(), pb.get());
    if (a != nullptr || b != nullptr) Check(Written(tools, a.get(), b.get()) == Written(tools, pa.get(), pb.get()));
  }
  if (a == nullptr && b == nullptr) return 0;  // a file without columns: nothing to write

  // The first round may round label weights and numbers; from then on the
  // text is stable.
  const std::string first = Written(tools, a.get(), b.get());
  std::unique_ptr<Data> a2, b2;
  Reread(tools, first, a2, b2);
  CheckSameShape(a.get(), a2.get());
  CheckSameShape(b.get(), b2.get());
  const std::string second = Written(tools, a2.get(), b2.get());
  std::unique_ptr<Data> a3, b3;
  Reread(tools, second, a3, b3);
  Check(Written(tools, a3.get(), b3.get()) == second);

  std::istringstream probe(second);
  const auto reply = ProbeFile(tools, probe);
  Check(reply->head == "data" && reply->Find("rows") != nullptr);
  const Data* any = a2 ? a2.get() : b2.get();
  Check(TKQstructure::ToInteger(reply->Find("rows")->head) == any->MbrNdxRows);

  if (any->MbrNdxRows <= 64) {
    int64_t offset = 0;
    for (int32_t row = 0; row < any->MbrNdxRows; ++row) {
      std::istringstream chunkIn(second);
      std::unique_ptr<Data> ca, cb;
      Check(ReadDataSetChunk(tools, chunkIn, offset, 1, ca, cb) == SUCCESS);
      CheckSameRow(a3.get(), row, ca.get());
      CheckSameRow(b3.get(), row, cb.get());
    }
  }
  return 0;
}
