// A process group whose processes are threads of one test, for the tests of
// distributed training: what MPI does between machines, done with queues.
// Point-to-point messages and broadcasts travel on separate queues, as MPI
// keeps collectives apart from other messages.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Kohonen/Train/ProcessGroup.h"

namespace grouptest {

class Hub {
 public:
  explicit Hub(int size) : size_(size), queues_(2 * static_cast<std::size_t>(size) * size) {}
  int Size() const { return size_; }

  void Put(int channel, int from, int to, const void* data, std::size_t bytes) {
    const char* p = static_cast<const char*>(data);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Queue(channel, from, to).emplace_back(p, p + bytes);
    }
    changed_.notify_all();
  }
  void Get(int channel, int from, int to, void* data, std::size_t bytes) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto& queue = Queue(channel, from, to);
    changed_.wait(lock, [&] { return !queue.empty(); });
    const std::vector<char> message = std::move(queue.front());
    queue.pop_front();
    if (message.size() != bytes) {
      std::fprintf(stderr, "process %d expected %zu bytes from %d and got %zu\n", to, bytes, from, message.size());
      std::abort();
    }
    if (bytes > 0) std::memcpy(data, message.data(), bytes);
  }

 private:
  std::deque<std::vector<char>>& Queue(int channel, int from, int to) {
    return queues_[(static_cast<std::size_t>(channel) * size_ + from) * size_ + to];
  }
  int size_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::deque<std::vector<char>>> queues_;
};

class ThreadProcessGroup final : public mapsmith::ProcessGroup {
 public:
  ThreadProcessGroup(Hub& hub, int rank) : hub_(hub), rank_(rank) {}
  int Rank() const override { return rank_; }
  int Size() const override { return hub_.Size(); }
  std::string Host() const override { return "testhost"; }
  void Send(int to, const void* data, std::size_t bytes) override { hub_.Put(0, rank_, to, data, bytes); }
  void Receive(int from, void* data, std::size_t bytes) override { hub_.Get(0, from, rank_, data, bytes); }
  void Broadcast(int root, void* data, std::size_t bytes) override {
    if (rank_ == root) {
      for (int q = 0; q < Size(); ++q)
        if (q != root) hub_.Put(1, root, q, data, bytes);
    } else {
      hub_.Get(1, root, rank_, data, bytes);
    }
  }

 private:
  Hub& hub_;
  int rank_;
};

// Runs body(group) as each of `size` processes, each on its own thread, and
// returns when all have finished.
inline void RunProcesses(int size, const std::function<void(mapsmith::ProcessGroup&)>& body) {
  Hub hub(size);
  std::vector<std::thread> threads;
  for (int p = 0; p < size; ++p)
    threads.emplace_back([&hub, &body, p] {
      ThreadProcessGroup group(hub, p);
      body(group);
    });
  for (std::thread& t : threads) t.join();
}

}  // namespace grouptest
