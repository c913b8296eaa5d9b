#include "byte_finder.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define MARLIX_HAVE_SSE2 1
#endif

namespace marlix {

namespace {

const char* FindScalar(const char* p, const char* end, std::string_view needle) {
  std::string_view hay(p, static_cast<std::size_t>(end - p));
  std::size_t at = hay.find(needle);
  return at == std::string_view::npos ? end : p + at;
}

}  // namespace

// Sixteen places at a time, keep those whose first and last byte both agree
// with the needle's, and compare only those in full. For Korean text this
// rejects nearly every place without a second look.
const char* ByteFinder::Find(const char* begin, const char* end) const {
  const std::size_t n = needle_.size();
  if (n == 0) return begin;
  if (static_cast<std::size_t>(end - begin) < n) return end;
  if (n == 1) {
    const void* hit = std::memchr(begin, needle_[0], static_cast<std::size_t>(end - begin));
    return hit ? static_cast<const char*>(hit) : end;
  }
#ifdef MARLIX_HAVE_SSE2
  const __m128i first = _mm_set1_epi8(needle_.front());
  const __m128i last = _mm_set1_epi8(needle_.back());
  const char* p = begin;
  // The last place whose 16-byte window and needle both fit in the block.
  const char* const stop = end - static_cast<std::ptrdiff_t>(n) - 15;
  while (p < stop) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 1));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
    while (mask != 0) {
      unsigned bit = static_cast<unsigned>(std::countr_zero(mask));
      if (n == 2 || std::memcmp(p + bit + 1, needle_.data() + 1, n - 2) == 0) return p + bit;
      mask &= mask - 1;
    }
    p += 16;
  }
  return FindScalar(p, end, needle_);
#else
  return FindScalar(begin, end, needle_);
#endif
}

}  // namespace marlix
