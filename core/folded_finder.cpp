#include "folded_finder.h"

#include "cp949_bytes.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define MARLIX_HAVE_SSE2 1
#endif

namespace marlix {

namespace {

bool SameFolded(const char* p, std::string_view needle) {
  return EqualsIgnoringAsciiCase(std::string_view(p, needle.size()), needle);
}

#ifdef MARLIX_HAVE_SSE2
// Sixteen bytes equal to `c` in either case: a letter is compared with its
// 0x20 bit set, which only its two cases have.
__m128i EqualFolded(__m128i bytes, char c) {
  if (!IsAsciiLetter(c)) return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c));
  return _mm_cmpeq_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), _mm_set1_epi8(AsciiLower(c)));
}
#endif

}  // namespace

const char* FoldedFinder::Find(const char* begin, const char* end) const {
  const std::size_t n = needle_.size();
  if (n == 0) return begin;
  if (static_cast<std::size_t>(end - begin) < n) return end;
  const char* p = begin;
#ifdef MARLIX_HAVE_SSE2
  // As the exact finder: keep the places whose first and last bytes agree.
  const char* const stop = end - static_cast<std::ptrdiff_t>(n) - 15;
  while (p < stop) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 1));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(EqualFolded(a, needle_.front()), EqualFolded(b, needle_.back()))));
    while (mask != 0) {
      const unsigned bit = static_cast<unsigned>(std::countr_zero(mask));
      if (SameFolded(p + bit, needle_)) return p + bit;
      mask &= mask - 1;
    }
    p += 16;
  }
#endif
  for (; p + n <= end; ++p) {
    if (SameFolded(p, needle_)) return p;
  }
  return end;
}

}  // namespace marlix
