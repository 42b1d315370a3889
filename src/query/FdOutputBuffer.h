#pragma once

#include <array>
#include <streambuf>

namespace kestrava::query {

// An output stream buffer that writes to a file descriptor and remembers why a write failed
// (errno), which std::filebuf forgets. After a failure every later write fails too.
class FdOutputBuffer final : public std::streambuf {
 public:
  explicit FdOutputBuffer(int fd) : fd_(fd) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
  }
  ~FdOutputBuffer() override { sync(); }
  FdOutputBuffer(const FdOutputBuffer&) = delete;
  FdOutputBuffer& operator=(const FdOutputBuffer&) = delete;

  // Treats the descriptor as failed from the start (a standard output that was closed).
  void fail(int errnum) { error_ = errnum; }
  // 0 while every write has succeeded, else the errno of the first that failed.
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  bool drain();

  int fd_;
  int error_ = 0;
  std::array<char, 64 * 1024> buffer_;
};

}  // namespace kestrava::query
