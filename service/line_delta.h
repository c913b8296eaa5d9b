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

namespace marlix {

// The delta that turns `from` into `to`.
std::string MakeLineDelta(std::string_view from, std::string_view to);

// Writes `base` changed by `delta` to `sink` (false from it stops the work).
// False with the reason in `error` when the delta is malformed, does not fit
// the base, or the sink failed. A line of the base longer than a data line
// (kDataLineMaxBytes and its CR LF), or an operation's line longer than any
// operation, is refused where it passes the bound: memory stays small
// whatever a delta, signed or not, holds.
bool ApplyLineDelta(std::FILE* base, std::FILE* delta, const std::function<bool(std::string_view)>& sink,
                    std::string& error);

}  // namespace marlix
