// A line delta between two texts in memory, made by the publisher's maker.
#pragma once

#include <algorithm>
#include <limits>
#include <string>
#include <string_view>

#include "line_delta.h"

namespace marlix::testing {

// The delta that turns `from` into `to`, `from` given to the maker in pieces
// of `piece` bytes as a file streams by. No bound on a line of `from`: the
// delta is made whatever it holds, and the applier judges its lines.
inline std::string LineDeltaOf(std::string_view from, std::string_view to,
                               std::size_t piece = std::numeric_limits<std::size_t>::max()) {
  const DeltaTarget target(to);
  std::string delta;
  LineDeltaMaker maker(target, std::numeric_limits<std::size_t>::max(), [&](std::string_view text) {
    delta += text;
    return true;
  });
  auto each_piece = [&](auto&& take) {
    for (std::string_view rest = from; !rest.empty(); rest.remove_prefix(std::min(piece, rest.size()))) {
      take(rest.substr(0, piece));
    }
  };
  each_piece([&](std::string_view bytes) { maker.Count(bytes); });
  maker.Counted();
  each_piece([&](std::string_view bytes) { maker.Add(bytes); });
  maker.Finish();
  return delta;
}

}  // namespace marlix::testing
