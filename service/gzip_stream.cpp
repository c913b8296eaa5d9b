#include "gzip_stream.h"

#include <zlib.h>

namespace marlix {

namespace {
constexpr int kGzipWindow = 16 + MAX_WBITS;  // a gzip header, not a raw zlib one
constexpr std::size_t kPiece = 64 * 1024;
}  // namespace

struct GzipInflater::Stream {
  z_stream z{};
  bool open = false;
};

GzipInflater::GzipInflater(std::uint64_t max_out, std::function<bool(std::string_view)> sink)
    : stream_(std::make_unique<Stream>()), max_out_(max_out), sink_(std::move(sink)) {
  stream_->open = inflateInit2(&stream_->z, kGzipWindow) == Z_OK;
  if (!stream_->open) state_ = State::kCorrupt;
}

GzipInflater::~GzipInflater() {
  if (stream_->open) inflateEnd(&stream_->z);
}

GzipInflater::State GzipInflater::Add(std::string_view compressed) {
  if (state_ != State::kMore) {
    if (state_ == State::kDone && !compressed.empty()) state_ = State::kCorrupt;
    return state_;
  }
  z_stream& z = stream_->z;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  z.avail_in = static_cast<uInt>(compressed.size());
  char out[kPiece];
  for (;;) {
    z.next_out = reinterpret_cast<Bytef*>(out);
    z.avail_out = sizeof out;
    const int result = inflate(&z, Z_NO_FLUSH);
    const std::size_t produced = sizeof out - z.avail_out;
    if (result != Z_OK && result != Z_STREAM_END && !(result == Z_BUF_ERROR && produced == 0)) {
      return state_ = State::kCorrupt;
    }
    if (produced > 0) {
      if (out_bytes_ + produced > max_out_) return state_ = State::kTooLarge;
      out_bytes_ += produced;
      if (!sink_(std::string_view(out, produced))) return state_ = State::kSinkFailed;
    }
    if (result == Z_STREAM_END) {
      // One member only: what follows it is not the publisher's.
      return state_ = z.avail_in > 0 ? State::kCorrupt : State::kDone;
    }
    if (produced == 0 && z.avail_in == 0) break;
  }
  return state_;
}

}  // namespace marlix
