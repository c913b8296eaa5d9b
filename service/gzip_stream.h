// gzip, as the data files travel: the publisher compresses each file once,
// the client inflates while the bytes arrive. The inflated size is capped by
// what the manifest says, so a small body cannot fill the disk.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace marlix {

class GzipInflater {
 public:
  // `sink` takes each inflated piece and returns false to stop (a write that
  // failed). More than `max_out` inflated bytes is an error.
  GzipInflater(std::uint64_t max_out, std::function<bool(std::string_view)> sink);
  ~GzipInflater();
  GzipInflater(const GzipInflater&) = delete;
  GzipInflater& operator=(const GzipInflater&) = delete;

  enum class State { kMore, kDone, kCorrupt, kTooLarge, kSinkFailed };
  // Takes the next compressed bytes. Bytes after the end of the stream are corrupt.
  State Add(std::string_view compressed);
  State state() const { return state_; }
  std::uint64_t out_bytes() const { return out_bytes_; }

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
  std::uint64_t max_out_;
  std::uint64_t out_bytes_ = 0;
  std::function<bool(std::string_view)> sink_;
  State state_ = State::kMore;
};

}  // namespace marlix
