// The reading side of a remote file, the same over every backend.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "internet.h"

using marlix::internet::Failure;

namespace {

// A number of the environment's variable `name`, when it has one there.
template <typename Number>
bool NumberFromEnvironment(const char* name, std::string_view& rest, Number& value) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return false;
  rest = text;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
  return error == std::errc();
}

}  // namespace

marlix::internet::RateFloor marlix::internet::TransferRateFloor() {
  RateFloor floor;
  std::string_view rest;
  RateFloor given;
  if (NumberFromEnvironment("MARLIX_RATE_FLOOR", rest, given.bytes) && rest.size() > 1 && rest[0] == '/') {
    const auto [end, error] = std::from_chars(rest.data() + 1, rest.data() + rest.size(), given.ms);
    if (error == std::errc() && end == rest.data() + rest.size() && given.ms > 0) floor = given;
  }
  return floor;
}

unsigned marlix::internet::SmallFileDeadlineMs() {
  std::string_view rest;
  unsigned ms = 0;
  if (NumberFromEnvironment("MARLIX_SMALL_FILE_DEADLINE_MS", rest, ms) && rest.empty() && ms > 0) return ms;
  return 30000;
}

marlix::internet::TransferWatch::TransferWatch(unsigned deadline_ms, std::string url)
    : url_(std::move(url)), floor_(TransferRateFloor()), window_start_(Clock::now()) {
  if (deadline_ms > 0) deadline_ = window_start_ + std::chrono::milliseconds(deadline_ms);
}

void marlix::internet::TransferWatch::Arrived(std::size_t bytes) {
  window_bytes_ += bytes;
  const Clock::time_point now = Clock::now();
  if (deadline_ && now > *deadline_) {
    throw CInternetException(Failure::kTimeout, "the answer did not arrive whole within its deadline (" + url_ + ")");
  }
  if (now - window_start_ < std::chrono::milliseconds(floor_.ms)) return;
  // At the floor's pace over all the time since the last look: a read may
  // have waited long for the bytes it brings.
  const auto ran_ms =
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now - window_start_).count());
  if (window_bytes_ * floor_.ms < floor_.bytes * ran_ms) {
    throw CInternetException(Failure::kTimeout, "fewer than " + std::to_string(floor_.bytes) + " bytes in " +
                                                    std::to_string(floor_.ms) + " ms (" + url_ + ")");
  }
  window_start_ = now;
  window_bytes_ = 0;
}

unsigned marlix::internet::TransferWatch::MsLeft() const {
  if (!deadline_) return kNoDeadline;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<unsigned>(std::min<long long>(left, kNoDeadline - 1));
}

CInternetFile::CInternetFile(std::unique_ptr<marlix::internet::Stream> stream, std::string url)
    : stream_(std::move(stream)), url_(std::move(url)) {
  if (stream_) {
    offset_ = stream_->BodyOffset();
    total_ = stream_->TotalLength();
  }
}

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
  if (got > 0) stream_->Watch().Arrived(got);
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
    stream_->Watch().Arrived(got);
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

unsigned long CInternetFile::StatusCode() const { return stream_ ? stream_->StatusCode() : 0; }

bool CHttpFile::QueryInfoStatusCode(unsigned long& status) const {
  status = StatusCode();
  return status != 0;
}

std::string marlix::internet::HttpAddress(const std::string& url) {
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) {
    throw CInternetException(Failure::kBadAddress, "not an http address: " + url);
  }
  return url;
}

namespace {

// Skips blanks (spaces and tabs) at `pos`.
void SkipBlanks(const std::string& text, std::size_t& pos) {
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
}

// A decimal number at `pos` with no sign; false when there is none or it
// does not fit.
bool ReadNumber(const std::string& text, std::size_t& pos, std::uint64_t& value) {
  const std::size_t start = pos;
  value = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    const auto digit = static_cast<std::uint64_t>(text[pos] - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return pos > start;
}

bool AtEnd(const std::string& text, std::size_t pos) {
  SkipBlanks(text, pos);
  return pos == text.size();
}

// "bytes" and blanks at the start of a Content-Range value; the unit is not
// case-sensitive.
bool ReadBytesUnit(const std::string& text, std::size_t& pos) {
  pos = 0;
  SkipBlanks(text, pos);
  constexpr char kUnit[] = "bytes";
  for (const char* p = kUnit; *p != '\0'; ++p, ++pos) {
    if (pos >= text.size() || (text[pos] | 0x20) != *p) return false;
  }
  const std::size_t after = pos;
  SkipBlanks(text, pos);
  return pos > after;
}

}  // namespace

marlix::internet::BodyRange marlix::internet::RangeOfAnswer(unsigned long status, const std::string& content_range,
                                                            const std::string& content_length, std::uint64_t from,
                                                            const std::string& url) {
  BodyRange range;
  std::size_t pos = 0;
  if (status == 200) {
    std::uint64_t length = 0;
    SkipBlanks(content_length, pos);
    if (ReadNumber(content_length, pos, length) && AtEnd(content_length, pos)) range.total = length;
  } else if (status == 416) {
    std::uint64_t total = 0;
    if (ReadBytesUnit(content_range, pos) && pos < content_range.size() && content_range[pos] == '*' &&
        ++pos < content_range.size() && content_range[pos++] == '/' && ReadNumber(content_range, pos, total) &&
        AtEnd(content_range, pos)) {
      range.total = total;
    }
  } else if (status == 206) {
    // bytes FIRST-LAST/TOTAL or bytes FIRST-LAST/*
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t total = 0;
    bool read = ReadBytesUnit(content_range, pos) && ReadNumber(content_range, pos, first) &&
                pos < content_range.size() && content_range[pos++] == '-' && ReadNumber(content_range, pos, last) &&
                last >= first && pos < content_range.size() && content_range[pos++] == '/';
    if (read && pos < content_range.size() && content_range[pos] == '*') {
      ++pos;
    } else if (read) {
      read = ReadNumber(content_range, pos, total) && total > last;
    }
    read = read && AtEnd(content_range, pos);
    if (!read) {
      throw CInternetException(Failure::kWrongPart, "a partial answer without a readable Content-Range '" +
                                                        content_range + "' (" + url + ")");
    }
    if (first != from) {
      throw CInternetException(Failure::kWrongPart, "asked for the file from byte " + std::to_string(from) +
                                                        ", the answer begins at byte " + std::to_string(first) + " (" +
                                                        url + ")");
    }
    range.offset = first;
    range.total = total;
  }
  return range;
}
