// A remote file over bytes in memory, for the fuzz targets of the readers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

#include "fuzz_support.h"
#include "internet.h"

namespace marlix::fuzz {

// A body as the network hands it over: in pieces of the sizes `chunks` names
// in turn (0 read as 1), and optionally a failure once `fail_at` bytes are out.
class MemoryStream : public internet::Stream {
 public:
  MemoryStream(std::string_view body, std::string_view chunks, std::size_t fail_at = std::string_view::npos)
      : Stream(internet::TransferWatch(0, "memory")), body_(body), chunks_(chunks), fail_at_(fail_at) {}

  std::size_t ReadSome(char* buffer, std::size_t size) override {
    if (closed_) Fail("read after Close");
    if (pos_ >= fail_at_) throw CInternetException(internet::Failure::kConnectionLost, "connection reset");
    std::size_t n = chunks_.empty() ? size : static_cast<unsigned char>(chunks_[next_++ % chunks_.size()]);
    if (n == 0) n = 1;
    n = std::min({n, size, body_.size() - pos_, fail_at_ - pos_});
    if (n > 0) std::memcpy(buffer, body_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  unsigned long StatusCode() const override { return 200; }
  void Close() override { closed_ = true; }

 private:
  std::string_view body_;
  std::string_view chunks_;
  std::size_t fail_at_;
  std::size_t pos_ = 0;
  std::size_t next_ = 0;
  bool closed_ = false;
};

inline std::unique_ptr<CHttpFile> OpenBody(std::string_view body, std::string_view chunks,
                                           std::size_t fail_at = std::string_view::npos) {
  return std::make_unique<CHttpFile>(std::make_unique<MemoryStream>(body, chunks, fail_at), "http://127.0.0.1/fuzz");
}

}  // namespace marlix::fuzz
