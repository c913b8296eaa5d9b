// Finds an ASCII-case-insensitive byte string in a large block: an English
// word as typed (artespace) in lines that write it otherwise (Artespace).
#pragma once

#include <string_view>

namespace marlix {

class FoldedFinder {
 public:
  explicit FoldedFinder(std::string_view needle) : needle_(needle) {}

  // The first place in [begin, end) where the needle starts, letters' case
  // ignored, or `end`. An empty needle is found at `begin`.
  const char* Find(const char* begin, const char* end) const;

 private:
  std::string_view needle_;
};

}  // namespace marlix
