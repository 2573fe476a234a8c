// The processes of a distributed training run as its driver sees them: a
// fixed group numbered from 0, in which every process makes the same
// collective calls in the same order. Messages between two processes arrive
// in the order they were sent. MapsmithTrainMPI runs the group over MPI; the
// tests run it on threads. Nothing here needs MPI.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace mapsmith {

class ProcessGroup {
 public:
  virtual ~ProcessGroup() = default;
  virtual int Rank() const = 0;
  virtual int Size() const = 0;
  // The name of the machine this process runs on, for messages.
  virtual std::string Host() const = 0;
  // Blocking point-to-point transfer of `bytes` bytes; the receiver must ask
  // for exactly as many as were sent.
  virtual void Send(int to, const void* data, std::size_t bytes) = 0;
  virtual void Receive(int from, void* data, std::size_t bytes) = 0;
  // Process `root`'s `bytes` bytes at `data` into `data` on every process.
  virtual void Broadcast(int root, void* data, std::size_t bytes) = 0;
};

// Typed transfers built on the above.
template <class T>
void SendValues(ProcessGroup& group, int to, const std::vector<T>& values) {
  const unsigned long long count = values.size();
  group.Send(to, &count, sizeof count);
  if (count > 0) group.Send(to, values.data(), count * sizeof(T));
}
template <class T>
void ReceiveValues(ProcessGroup& group, int from, std::vector<T>& values) {
  unsigned long long count = 0;
  group.Receive(from, &count, sizeof count);
  values.resize(count);
  if (count > 0) group.Receive(from, values.data(), count * sizeof(T));
}
// `values` of process `root`, sized on the others too.
template <class T>
void BroadcastValues(ProcessGroup& group, int root, std::vector<T>& values) {
  unsigned long long count = values.size();
  group.Broadcast(root, &count, sizeof count);
  values.resize(count);
  if (count > 0) group.Broadcast(root, values.data(), count * sizeof(T));
}
// Every process's `mine`, in process order, on every process.
template <class T>
std::vector<T> GatherToAll(ProcessGroup& group, const T& mine) {
  std::vector<T> all(static_cast<std::size_t>(group.Size()));
  all[static_cast<std::size_t>(group.Rank())] = mine;
  for (int p = 0; p < group.Size(); ++p) group.Broadcast(p, &all[static_cast<std::size_t>(p)], sizeof(T));
  return all;
}

// Runs `step` on every process and agrees on its outcome. When it threw a
// UsageError or RunError, a library error (FileTools::Error, TException) or
// ran out of memory on any process, every
// process throws the error of the lowest-numbered process that failed, a
// RunError from a process other than 0 naming that process and its machine
// when `sayWhere` (errors of a shared file's content leave it out). Other
// exceptions pass through unagreed: they are programming errors.
void Together(ProcessGroup& group, const std::function<void()>& step, bool sayWhere = true);

}  // namespace mapsmith
