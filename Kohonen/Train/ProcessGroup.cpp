#include "Kohonen/Train/ProcessGroup.h"

#include <cstring>
#include <new>

#include "FileHandler/ParseTools.h"
#include "KQmessage/TException.h"
#include "Kohonen/Common/CommandLine.h"

namespace mapsmith {

namespace {

// How a step went on one process.
struct Outcome {
  int kind = 0;  // 0 done, 1 RunError, 2 UsageError, 3 out of memory
  int rank = 0;
  std::string host, file, reason;
};

void Put(std::vector<char>& to, const std::string& text) {
  const unsigned long long size = text.size();
  const char* bytes = reinterpret_cast<const char*>(&size);
  to.insert(to.end(), bytes, bytes + sizeof size);
  to.insert(to.end(), text.begin(), text.end());
}

std::string Take(const std::vector<char>& from, std::size_t& at) {
  unsigned long long size = 0;
  std::memcpy(&size, from.data() + at, sizeof size);
  at += sizeof size;
  std::string text(from.data() + at, size);
  at += size;
  return text;
}

std::vector<char> Encode(const Outcome& o) {
  std::vector<char> bytes;
  Put(bytes, std::to_string(o.kind));
  Put(bytes, std::to_string(o.rank));
  Put(bytes, o.host);
  Put(bytes, o.file);
  Put(bytes, o.reason);
  return bytes;
}

Outcome Decode(const std::vector<char>& bytes) {
  std::size_t at = 0;
  Outcome o;
  o.kind = std::stoi(Take(bytes, at));
  o.rank = std::stoi(Take(bytes, at));
  o.host = Take(bytes, at);
  o.file = Take(bytes, at);
  o.reason = Take(bytes, at);
  return o;
}

}  // namespace

void Together(ProcessGroup& group, const std::function<void()>& step, bool sayWhere) {
  Outcome mine;
  mine.rank = group.Rank();
  try {
    step();
  } catch (const UsageError& e) {
    mine.kind = 2;
    mine.reason = e.message;
  } catch (const RunError& e) {
    mine.kind = 1;
    mine.file = e.file;
    mine.reason = e.reason;
  } catch (const FileTools::Error& e) {
    mine.kind = 1;
    mine.reason = e.message;
  } catch (const TException& e) {
    mine.kind = 1;
    mine.reason = e.message;
  } catch (const std::bad_alloc&) {
    mine.kind = 3;
  }
  if (mine.kind != 0) mine.host = group.Host();

  // Process 0 hears every outcome and hands on the first failure.
  std::vector<char> chosen;
  if (group.Rank() == 0) {
    Outcome first = mine;
    std::vector<char> heard;
    for (int p = 1; p < group.Size(); ++p) {
      ReceiveValues(group, p, heard);
      if (first.kind == 0) first = Decode(heard);
    }
    chosen = Encode(first);
  } else {
    SendValues(group, 0, Encode(mine));
  }
  BroadcastValues(group, 0, chosen);
  const Outcome agreed = Decode(chosen);
  if (agreed.kind == 0) return;
  if (agreed.kind == 2) throw UsageError{agreed.reason};
  const std::string where =
      agreed.rank == 0 || !sayWhere ? "" : " (process " + std::to_string(agreed.rank) + " on " + agreed.host + ")";
  if (agreed.kind == 3) {
    if (agreed.rank == 0) throw std::bad_alloc();
    throw RunError{"", "not enough memory" + where};
  }
  throw RunError{agreed.file, agreed.reason + where};
}

}  // namespace mapsmith
