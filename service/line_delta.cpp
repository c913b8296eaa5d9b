#include "line_delta.h"

#include <algorithm>
#include <charconv>
#include <cstring>
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
// Added lines are written in records of about this size, so that a delta of
// many new lines holds no more of them.
constexpr std::size_t kAddedRecord = 1 << 20;

std::uint64_t HashOf(std::string_view line) {
  const std::uint64_t hash = std::hash<std::string_view>{}(line);
  return hash == 0 ? 1 : hash;
}

// The line at `at` of `text`, its line feed with it.
std::string_view LineAt(std::string_view text, std::size_t at) {
  const void* nl = std::memchr(text.data() + at, '\n', text.size() - at);
  const std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) + 1 : text.size();
  return text.substr(at, end - at);
}

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

DeltaTarget::DeltaTarget(std::string_view text) : text_(text) {
  std::size_t lines = 0;
  for (std::size_t at = 0; at < text.size(); at += LineAt(text, at).size()) ++lines;
  std::size_t slots = 16;
  while (slots < lines + lines / 3) slots *= 2;
  hashes_.assign(slots, 0);
  line_slots_.reserve(lines);
  for (std::size_t at = 0; at < text.size();) {
    const std::string_view line = LineAt(text, at);
    const std::uint64_t hash = HashOf(line);
    std::size_t slot = hash & (slots - 1);
    while (hashes_[slot] != 0 && hashes_[slot] != hash) slot = (slot + 1) & (slots - 1);
    hashes_[slot] = hash;
    line_slots_.push_back(static_cast<std::uint32_t>(slot));
    at += line.size();
  }
}

std::size_t DeltaTarget::SlotOf(std::string_view line) const {
  const std::uint64_t hash = HashOf(line);
  const std::size_t mask = hashes_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    if (hashes_[slot] == hash) return slot;
    if (hashes_[slot] == 0) return std::string_view::npos;
  }
}

LineDeltaMaker::LineDeltaMaker(const DeltaTarget& target, std::size_t max_line,
                               std::function<bool(std::string_view)> out)
    : target_(target), max_line_(max_line), out_(std::move(out)), old_left_(target.hashes_.size(), 0) {
  Emit(kHeader);
  NextNewLine();
}

bool LineDeltaMaker::Split(std::string_view bytes, const std::function<void(std::string_view)>& line) {
  while (!bytes.empty() && !stopped_) {
    const void* nl = std::memchr(bytes.data(), '\n', bytes.size());
    const std::size_t take =
        nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - bytes.data()) + 1 : bytes.size();
    if (carry_.size() + take > max_line_) {
      line_too_long_ = true;
      return false;
    }
    if (nl && carry_.empty()) {
      line(bytes.substr(0, take));
    } else {
      carry_.append(bytes.substr(0, take));
      if (nl) {
        line(carry_);
        carry_.clear();
      }
    }
    bytes.remove_prefix(take);
  }
  return !stopped_;
}

bool LineDeltaMaker::Count(std::string_view old_bytes) {
  return Split(old_bytes, [this](std::string_view line) {
    if (const std::size_t slot = target_.SlotOf(line); slot != std::string_view::npos) ++old_left_[slot];
  });
}

void LineDeltaMaker::Counted() {
  if (const std::size_t slot = target_.SlotOf(carry_); !carry_.empty() && slot != std::string_view::npos) {
    ++old_left_[slot];
  }
  carry_.clear();
}

bool LineDeltaMaker::Add(std::string_view old_bytes) {
  return Split(old_bytes, [this](std::string_view line) { Step(line); });
}

bool LineDeltaMaker::Finish() {
  if (line_too_long_) return false;
  if (!carry_.empty()) Step(carry_);
  while (!new_line_.empty()) {
    AddLine(new_line_);
    NextNewLine();
  }
  FlushRun();
  FlushAdded();
  Emit("e\n");
  return !stopped_;
}

// One line of the old file. The new lines before it that the rest of the old
// file does not hold are added; then it is copied when it is the new line at
// hand, and skipped otherwise.
void LineDeltaMaker::Step(std::string_view old_line) {
  while (!new_line_.empty() && new_line_ != old_line && old_left_[target_.line_slots_[new_index_]] == 0) {
    AddLine(new_line_);
    NextNewLine();
  }
  if (!new_line_.empty() && new_line_ == old_line) {
    Run('c');
    NextNewLine();
  } else {
    Run('s');
  }
  const std::size_t slot = target_.SlotOf(old_line);
  if (slot != std::string_view::npos && old_left_[slot] > 0) --old_left_[slot];
}

void LineDeltaMaker::NextNewLine() {
  new_at_ += new_line_.size();
  if (!new_line_.empty()) ++new_index_;
  new_line_ = new_at_ < target_.text_.size() ? LineAt(target_.text_, new_at_) : std::string_view();
}

void LineDeltaMaker::Run(char op) {
  FlushAdded();
  if (op != op_) FlushRun();
  op_ = op;
  ++run_;
}

void LineDeltaMaker::AddLine(std::string_view line) {
  FlushRun();
  added_.append(line);
  if (added_.size() >= kAddedRecord) FlushAdded();
}

void LineDeltaMaker::FlushRun() {
  if (run_ > 0) Emit(std::string(1, op_) + " " + std::to_string(run_) + "\n");
  run_ = 0;
  op_ = 0;
}

void LineDeltaMaker::FlushAdded() {
  if (added_.empty()) return;
  Emit("a " + std::to_string(added_.size()) + "\n");
  Emit(added_);
  added_.clear();
}

void LineDeltaMaker::Emit(std::string_view text) {
  if (stopped_) return;
  size_ += text.size();
  stopped_ = !out_(text);
}

}  // namespace marlix
