// A line delta between two editions of the data file: which lines of the old
// file stay, which go and which new lines come, so a client that holds the
// old edition fetches only what changed. The file is sorted, so an edition
// differs from the one before in runs of lines and the delta stays small.
//
// The delta's text: the header line "marlix-delta 1", then operations, each
// on a line of its own, ending with "e":
//   c N   copy the next N lines of the old file
//   s N   skip the next N lines of the old file
//   a N   then N bytes, added as they are
// A line is its bytes up to and with its line feed, or the old file's last
// bytes when they end without one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace marlix {

// A delta from an earlier edition to a new one is made while the earlier
// file streams by: it is read twice, once to count its lines and once to make
// the delta, and never held. Only the new file is in memory, with one table of its lines' hashes that serves every
// delta made to it, so six earlier editions of the country's data cost a
// small table of counts each, one after another, not six files.
//
// Each step: a line the two files share is copied; a new line that the rest
// of the old file does not hold is added; otherwise the old line is skipped
// (a moved line costs its bytes, never a wrong result). Lines are counted by
// hash, so two lines of one hash can cost a few bytes of the delta, never a
// wrong result: what is copied is compared byte for byte.

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

// Writes `base` changed by `delta` to `sink` (false from it stops the work).
// False with the reason in `error` when the delta is malformed, does not fit
// the base, or the sink failed. A line of the base longer than a data line
// (kDataLineMaxBytes and its CR LF), or an operation's line longer than any
// operation, is refused where it passes the bound: memory stays small
// whatever a delta, signed or not, holds.
bool ApplyLineDelta(std::FILE* base, std::FILE* delta, const std::function<bool(std::string_view)>& sink,
                    std::string& error);

}  // namespace marlix
