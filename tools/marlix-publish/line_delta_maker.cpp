#include "line_delta_maker.h"

#include <cstring>

namespace marlix::publish {

namespace {

constexpr std::string_view kHeader = "marlix-delta 1\n";
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
  const std::size_t end =
      nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) + 1 : text.size();
  return text.substr(at, end - at);
}

}  // namespace

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

}  // namespace marlix::publish
