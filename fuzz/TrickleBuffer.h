// A stream buffer that hands out one character per refill, so that every
// read of the fuzzed readers crosses a buffer boundary.
#pragma once

#include <cstddef>
#include <streambuf>
#include <string>
#include <utility>

class TrickleBuffer : public std::streambuf {
 public:
  explicit TrickleBuffer(std::string text) : text_(std::move(text)) {}
  // The characters the reader has taken so far.
  size_t consumed() const { return pos_ - static_cast<size_t>(egptr() - gptr()); }

 protected:
  int_type underflow() override {
    if (pos_ >= text_.size()) return traits_type::eof();
    ch_ = text_[pos_++];
    setg(&ch_, &ch_, &ch_ + 1);
    return traits_type::to_int_type(ch_);
  }

 private:
  std::string text_;
  size_t pos_ = 0;
  char ch_ = 0;
};
