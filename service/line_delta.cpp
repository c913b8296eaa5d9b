#include "line_delta.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "line_form.h"

namespace marlix {

namespace {

constexpr std::string_view kHeader = "marlix-delta 1\n";
// The longest lines read, with their line ends: an operation ("a" and a
// 20-digit count) and a line of the data file, its CR LF included. Nothing
// longer is held, however long the line a delta or a base brings.
constexpr std::size_t kOpLineMaxBytes = 32;
constexpr std::size_t kBaseLineMaxBytes = kDataLineMaxBytes + 2;

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t size = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, size));
    text.remove_prefix(size);
  }
  return lines;
}

using LineCounts = std::unordered_map<std::string_view, std::uint32_t>;

LineCounts Counts(const std::vector<std::string_view>& lines) {
  LineCounts counts;
  counts.reserve(lines.size());
  for (std::string_view line : lines) ++counts[line];
  return counts;
}

// Collects runs of one operation into one record.
class DeltaWriter {
 public:
  DeltaWriter() : text_(kHeader) {}
  void Copy() { Run('c'); }
  void Skip() { Run('s'); }
  void Add(std::string_view line) {
    Flush();
    added_ += line;
  }
  std::string Finish() {
    Flush();
    text_ += "e\n";
    return std::move(text_);
  }

 private:
  void Run(char op) {
    if (op != op_ || !added_.empty()) Flush();
    op_ = op;
    ++count_;
  }
  void Flush() {
    if (count_ > 0) text_ += std::string(1, op_) + " " + std::to_string(count_) + "\n";
    count_ = 0;
    if (!added_.empty()) text_ += "a " + std::to_string(added_.size()) + "\n" + added_;
    added_.clear();
  }
  std::string text_;
  char op_ = 0;
  std::uint64_t count_ = 0;
  std::string added_;
};

// Buffered reads of a file, by line and by byte count.
class Reader {
 public:
  explicit Reader(std::FILE* file) : file_(file) {}
  // The next line with its line feed, of at most `max` bytes; false at the
  // end of the file, and for a longer line, of which no more is read.
  bool Line(std::string& line, std::size_t max) {
    line.clear();
    for (;;) {
      if (at_ == end_ && !Fill()) return !line.empty();
      const char* nl = static_cast<const char*>(std::memchr(buffer_ + at_, '\n', end_ - at_));
      const std::size_t take = nl ? static_cast<std::size_t>(nl - (buffer_ + at_)) + 1 : end_ - at_;
      if (line.size() + take > max) return false;
      line.append(buffer_ + at_, take);
      at_ += take;
      if (nl) return true;
    }
  }
  bool Bytes(std::uint64_t count, const std::function<bool(std::string_view)>& sink, bool& sink_failed) {
    while (count > 0) {
      if (at_ == end_ && !Fill()) return false;
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(count, end_ - at_));
      if (!sink(std::string_view(buffer_ + at_, take))) {
        sink_failed = true;
        return false;
      }
      at_ += take;
      count -= take;
    }
    return true;
  }
  bool AtEnd() { return at_ == end_ && !Fill(); }

 private:
  bool Fill() {
    at_ = 0;
    end_ = std::fread(buffer_, 1, sizeof buffer_, file_);
    return end_ > 0;
  }
  std::FILE* file_;
  char buffer_[64 * 1024] = {};
  std::size_t at_ = 0, end_ = 0;
};

bool ParseOp(std::string_view line, char& op, std::uint64_t& count) {
  if (line == "e\n") {
    op = 'e';
    return true;
  }
  if (line.size() < 4 || line[1] != ' ' || line.back() != '\n') return false;
  op = line[0];
  if (op != 'c' && op != 's' && op != 'a') return false;
  const char* first = line.data() + 2;
  const char* last = line.data() + line.size() - 1;
  const auto [end, error] = std::from_chars(first, last, count);
  return error == std::errc() && end == last && count > 0;
}

}  // namespace

std::string MakeLineDelta(std::string_view from, std::string_view to) {
  const std::vector<std::string_view> old_lines = Lines(from);
  const std::vector<std::string_view> new_lines = Lines(to);
  LineCounts old_left = Counts(old_lines);
  LineCounts new_left = Counts(new_lines);
  DeltaWriter delta;
  std::size_t i = 0, j = 0;
  while (i < old_lines.size() || j < new_lines.size()) {
    const bool old_more = i < old_lines.size();
    const bool new_more = j < new_lines.size();
    if (old_more && new_more && old_lines[i] == new_lines[j]) {
      --old_left[old_lines[i++]];
      --new_left[new_lines[j++]];
      delta.Copy();
    } else if (new_more && (!old_more || old_left[new_lines[j]] == 0)) {
      // A line the old file no longer holds further on is new.
      --new_left[new_lines[j]];
      delta.Add(new_lines[j++]);
    } else {
      // An old line that the new file has later is dropped here and added
      // there: a moved line costs its bytes, never a wrong result.
      --old_left[old_lines[i++]];
      delta.Skip();
    }
  }
  return delta.Finish();
}

bool ApplyLineDelta(std::FILE* base, std::FILE* delta, const std::function<bool(std::string_view)>& sink,
                    std::string& error) {
  Reader old_file(base);
  Reader ops(delta);
  std::string line, op_line;
  if (!ops.Line(op_line, kHeader.size()) || op_line != kHeader) {
    error = "not a line delta";
    return false;
  }
  bool sink_failed = false;
  for (;;) {
    char op = 0;
    std::uint64_t count = 0;
    if (!ops.Line(op_line, kOpLineMaxBytes) || !ParseOp(op_line, op, count)) {
      error = "a malformed delta";
      return false;
    }
    if (op == 'e') break;
    if (op == 'a') {
      if (!ops.Bytes(count, sink, sink_failed)) {
        error = sink_failed ? "cannot write the result" : "a delta cut short";
        return false;
      }
      continue;
    }
    for (; count > 0; --count) {
      if (!old_file.Line(line, kBaseLineMaxBytes)) {
        error = old_file.AtEnd() ? "a delta for a longer file" : "a line of the base longer than a data line";
        return false;
      }
      if (op == 'c' && !sink(line)) {
        error = "cannot write the result";
        return false;
      }
    }
  }
  if (!old_file.AtEnd() || !ops.AtEnd()) {
    error = "a delta that does not cover its file";
    return false;
  }
  return true;
}

}  // namespace marlix
