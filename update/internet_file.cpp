// The reading side of a remote file, the same over every backend.
#include <algorithm>
#include <cstring>

#include "internet.h"

using marlix::internet::Failure;

CInternetFile::CInternetFile(std::unique_ptr<marlix::internet::Stream> stream, std::string url)
    : stream_(std::move(stream)), url_(std::move(url)) {}

CInternetFile::~CInternetFile() {
  try {
    Close();
  } catch (const CInternetException&) {
    // Nothing is left to tell at destruction.
  }
}

bool CInternetFile::SetReadBufferSize(unsigned size) {
  if (size == 0) return false;
  read_ahead_ = size;
  return true;
}

// Tops up the buffer from the network when it is used up; false at the end.
bool CInternetFile::Fill() {
  if (buffer_pos_ < buffer_.size()) return true;
  buffer_.clear();
  buffer_pos_ = 0;
  if (!stream_) return false;
  buffer_.resize(read_ahead_);
  const std::size_t got = stream_->ReadSome(buffer_.data(), buffer_.size());
  buffer_.resize(got);
  return got > 0;
}

bool CInternetFile::ReadString(std::string& line) {
  line.clear();
  bool any = false;
  while (Fill()) {
    any = true;
    const char* begin = buffer_.data() + buffer_pos_;
    const char* end = buffer_.data() + buffer_.size();
    const char* lf = std::find(begin, end, '\n');
    for (const char* p = begin; p != lf; ++p) {
      if (*p != '\r') line.push_back(*p);
    }
    buffer_pos_ = static_cast<std::size_t>(lf - buffer_.data());
    if (lf != end) {
      ++buffer_pos_;
      return true;
    }
  }
  return any;
}

unsigned CInternetFile::Read(void* buffer, unsigned count) {
  char* out = static_cast<char*>(buffer);
  unsigned done = 0;
  // What line reads left buffered comes first.
  if (buffer_pos_ < buffer_.size()) {
    const std::size_t n = std::min<std::size_t>(count, buffer_.size() - buffer_pos_);
    std::memcpy(out, buffer_.data() + buffer_pos_, n);
    buffer_pos_ += n;
    done = static_cast<unsigned>(n);
  }
  while (done < count && stream_) {
    const std::size_t got = stream_->ReadSome(out + done, count - done);
    if (got == 0) break;
    done += static_cast<unsigned>(got);
  }
  return done;
}

void CInternetFile::Close() {
  buffer_.clear();
  buffer_pos_ = 0;
  if (!stream_) return;
  std::unique_ptr<marlix::internet::Stream> stream = std::move(stream_);
  stream->Close();
}

bool CHttpFile::QueryInfoStatusCode(unsigned long& status) const {
  if (!stream_) return false;
  status = stream_->StatusCode();
  return status != 0;
}

unsigned long marlix::AnswerStatus(const CInternetFile& file) {
  unsigned long status = 0;
  const auto* http = dynamic_cast<const CHttpFile*>(&file);
  return http != nullptr && http->QueryInfoStatusCode(status) ? status : 0;
}

std::string marlix::internet::HttpAddress(const std::string& url) {
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) {
    throw CInternetException(Failure::kBadAddress, "not an http address: " + url);
  }
  return url;
}
