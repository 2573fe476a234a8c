// What the benchmarks run on: a map with random weights and rows of random
// values, a stream buffer that only counts what it is given, and a scratch
// directory. The map and rows are made the same way in every benchmark, so
// the timings of one can be set against another's.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <random>
#include <streambuf>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace benchdata {

// A `side` x `side` map of `inputs` inputs whose weights are uniform in
// [-1, 1] (the library's generator seeded with 7), and `count` rows of values
// uniform in [-1, 1) (std::mt19937 seeded with 3).
struct RandomMapAndRows {
  RandomMapAndRows(int inputs, int side, int count)
      : dims{side, side}, net(inputs, 2, dims), rows(count, inputs, 0, false) {
    SeedRandom(7);
    net.Randomize(-1, 1);
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> uni(-1, 1);
    std::vector<double> x(static_cast<std::size_t>(inputs));
    for (int r = 0; r < count; ++r) {
      for (double& v : x) v = uni(gen);
      rows.AddRow(x.data(), nullptr, nullptr);
    }
  }

  int dims[2];
  TKohonenNetwork net;
  Data rows;
};

// Counts the bytes written to it and keeps nothing, so that writers are timed
// without the disk.
class CountingBuffer : public std::streambuf {
 public:
  std::size_t bytes = 0;

 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override {
    bytes += static_cast<std::size_t>(n);
    return n;
  }
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) ++bytes;
    return traits_type::not_eof(c);
  }
};

// A directory of this process's own below the system's temporary directory
// ("<name>-<pid>"), removed with what it holds at the end.
struct ScratchDir {
  explicit ScratchDir(const std::string& name)
      : path(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(path);
  }
  ~ScratchDir() { std::filesystem::remove_all(path); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::filesystem::path path;
};

}  // namespace benchdata
