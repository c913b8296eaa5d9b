// Finds a byte string in a large block, fast: the inner loop of the search.
#pragma once

#include <cstddef>
#include <string_view>

namespace marlix {

class ByteFinder {
 public:
  explicit ByteFinder(std::string_view needle);

  // The first place in [begin, end) where the needle starts, or `end`.
  // An empty needle is found at `begin`.
  const char* Find(const char* begin, const char* end) const;

  std::size_t size() const { return needle_.size(); }

 private:
  std::string_view needle_;
  // The needle's two rarest bytes in the data, by their offsets: a place is
  // compared in full only when both agree.
  std::size_t rare_[2] = {0, 0};
};

}  // namespace marlix
