// Line deltas (line_delta.h's form) from earlier editions' postcode.txt to a
// new one, made while each earlier file streams by: it is read twice, once to
// count its lines and once to make the delta, and never held. Only the new
// file is in memory, with one table of its lines' hashes that serves every
// delta made to it, so six earlier editions of the country's data cost a
// small table of counts each, one after another, not six files.
//
// The choice of each step is the one MakeLineDelta makes: a line the two
// files share is copied; a new line that the rest of the old file does not
// hold is added; otherwise the old line is skipped. Lines are counted by
// hash, so two lines of one hash can cost a few bytes of the delta, never a
// wrong result: what is copied is compared byte for byte.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace marlix::publish {

// The new file, indexed once for every delta made to it.
class DeltaTarget {
 public:
  explicit DeltaTarget(std::string_view text);

 private:
  friend class LineDeltaMaker;
  // The slot of `line`'s hash in the table, or npos when no new line has it.
  std::size_t SlotOf(std::string_view line) const;

  std::string_view text_;
  std::vector<std::uint64_t> hashes_;      // open addressing; 0 is a free slot
  std::vector<std::uint32_t> line_slots_;  // each new line's slot, in order
};

// One delta to `target`. The old file's bytes go in twice, in pieces: all of
// them to Count, then Counted, then all of them again to Add, then Finish.
// The delta's text goes to `out` as it is made; false from `out` stops the
// work, and so does a line past `max_line`.
class LineDeltaMaker {
 public:
  // A line (its line end with it) past `max_line` is not of a data file: the delta is given up
  // rather than the line held.
  LineDeltaMaker(const DeltaTarget& target, std::size_t max_line, std::function<bool(std::string_view)> out);

  bool Count(std::string_view old_bytes);
  void Counted();
  bool Add(std::string_view old_bytes);
  bool Finish();
  // The delta's bytes so far.
  std::uint64_t size() const { return size_; }

 private:
  // Calls `line` with each whole line of the pieces given, carrying a
  // line's start over to the next piece.
  bool Split(std::string_view bytes, const std::function<void(std::string_view)>& line);
  void Step(std::string_view old_line);
  void NextNewLine();
  void Run(char op);
  void AddLine(std::string_view line);
  void FlushRun();
  void FlushAdded();
  void Emit(std::string_view text);

  const DeltaTarget& target_;
  std::size_t max_line_;
  std::function<bool(std::string_view)> out_;
  std::vector<std::uint32_t> old_left_;  // per slot: the old file's lines still to come
  std::string carry_;
  bool line_too_long_ = false;
  // The new file's line at hand.
  std::size_t new_at_ = 0, new_index_ = 0;
  std::string_view new_line_;
  // The operations not written yet.
  char op_ = 0;
  std::uint64_t run_ = 0;
  std::string added_;
  std::uint64_t size_ = 0;
  bool stopped_ = false;
};

}  // namespace marlix::publish
