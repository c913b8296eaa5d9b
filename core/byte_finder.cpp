#include "byte_finder.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define MARLIX_HAVE_SSE2 1
#endif
#if defined(MARLIX_HAVE_SSE2) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define MARLIX_HAVE_AVX2 1
#endif

namespace marlix {

namespace {

// How common each byte is in the data (CP949 addresses and their codes), as a
// rank: 0 for the rarest, 255 for the space. Counted over the real six-digit
// file and a national-size five-digit file; only the order matters.
constexpr unsigned char kByteRank[256] = {
    0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   241, 10,  11,  242, 12,  13,   // 00
    14,  15,  16,  17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,   // 10
    255, 30,  31,  32,  33,  34,  120, 35,  219, 220, 36,  37,  198, 239, 142, 38,   // 20
    249, 251, 245, 244, 237, 236, 232, 233, 235, 229, 39,  40,  41,  42,  43,  44,   // 30
    45,  147, 146, 148, 129, 133, 119, 136, 132, 134, 122, 140, 135, 125, 130, 123,  // 40
    127, 46,  126, 139, 138, 118, 131, 128, 124, 121, 112, 47,  48,  49,  50,  51,   // 50
    52,  53,  54,  55,  56,  137, 57,  58,  59,  113, 60,  114, 117, 61,  115, 62,   // 60
    63,  64,  65,  116, 66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77,   // 70
    78,  79,  80,  81,  82,  83,  84,  85,  86,  87,  88,  89,  90,  91,  92,  93,   // 80
    94,  95,  96,  97,  98,  99,  100, 101, 102, 103, 104, 105, 106, 107, 108, 109,  // 90
    110, 213, 168, 163, 197, 160, 164, 152, 144, 167, 175, 172, 173, 238, 224, 208,  // A0
    246, 252, 214, 221, 225, 253, 200, 216, 250, 206, 248, 227, 243, 231, 228, 254,  // B0
    230, 226, 185, 247, 202, 207, 240, 222, 211, 154, 169, 141, 190, 174, 223, 217,  // C0
    177, 178, 176, 155, 158, 157, 201, 161, 162, 181, 183, 188, 166, 182, 159, 191,  // D0
    145, 150, 203, 156, 143, 180, 234, 204, 184, 205, 210, 215, 187, 189, 193, 218,  // E0
    151, 186, 195, 194, 179, 170, 209, 196, 212, 192, 149, 171, 199, 153, 165, 111,  // F0
};

const char* FindScalar(const char* p, const char* end, std::string_view needle) {
  std::string_view hay(p, static_cast<std::size_t>(end - p));
  std::size_t at = hay.find(needle);
  return at == std::string_view::npos ? end : p + at;
}

// The places whose two rare bytes agree, as bits of `mask` counted from `p`,
// compared in full. The first whole match, or null.
const char* FirstWhole(const char* p, std::uint64_t mask, std::string_view needle) {
  while (mask != 0) {
    const char* at = p + std::countr_zero(mask);
    if (std::memcmp(at, needle.data(), needle.size()) == 0) return at;
    mask &= mask - 1;
  }
  return nullptr;
}

using FindFn = const char* (*)(const char*, const char*, std::string_view, const std::size_t*);

#ifdef MARLIX_HAVE_SSE2
// Thirty-two places at a time.
unsigned Agreeing16(const char* p, __m128i x, __m128i y, std::size_t rare0, std::size_t rare1) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + rare0));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + rare1));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, x), _mm_cmpeq_epi8(b, y))));
}

const char* FindSse2(const char* p, const char* end, std::string_view needle, const std::size_t* rare) {
  const std::size_t rare0 = rare[0], rare1 = rare[1];
  const __m128i x = _mm_set1_epi8(needle[rare0]);
  const __m128i y = _mm_set1_epi8(needle[rare1]);
  // While the windows and the needle after their last place fit in the block.
  for (std::size_t left = static_cast<std::size_t>(end - p); left >= needle.size() + 31; left -= 32) {
    const unsigned low = Agreeing16(p, x, y, rare0, rare1);
    const unsigned high = Agreeing16(p + 16, x, y, rare0, rare1);
    if ((low | high) != 0) {
      if (const char* hit = FirstWhole(p, low | (high << 16), needle)) return hit;
    }
    p += 32;
  }
  return FindScalar(p, end, needle);
}
#endif

#ifdef MARLIX_HAVE_AVX2
// Sixty-four places at a time, on processors that have AVX2.
__attribute__((target("avx2"))) __m256i Load32(const char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) const char* FindAvx2(const char* p, const char* end, std::string_view needle,
                                                     const std::size_t* rare) {
  const char* const first = p + rare[0];
  const char* const second = p + rare[1];
  const __m256i x = _mm256_set1_epi8(needle[rare[0]]);
  const __m256i y = _mm256_set1_epi8(needle[rare[1]]);
  std::size_t at = 0;
  for (const std::size_t size = static_cast<std::size_t>(end - p); size - at >= needle.size() + 63; at += 64) {
    const __m256i low =
        _mm256_and_si256(_mm256_cmpeq_epi8(Load32(first + at), x), _mm256_cmpeq_epi8(Load32(second + at), y));
    const __m256i high =
        _mm256_and_si256(_mm256_cmpeq_epi8(Load32(first + at + 32), x), _mm256_cmpeq_epi8(Load32(second + at + 32), y));
    const __m256i any = _mm256_or_si256(low, high);
    if (_mm256_testz_si256(any, any)) continue;
    const std::uint64_t mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
                               std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
    if (const char* hit = FirstWhole(p + at, mask, needle)) return hit;
  }
  return FindSse2(p + at, end, needle, rare);
}
#endif

FindFn ChooseFind() {
#ifdef MARLIX_HAVE_AVX2
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return FindAvx2;
#endif
#ifdef MARLIX_HAVE_SSE2
  return FindSse2;
#else
  return [](const char* p, const char* end, std::string_view needle, const std::size_t*) {
    return FindScalar(p, end, needle);
  };
#endif
}

}  // namespace

ByteFinder::ByteFinder(std::string_view needle) : needle_(needle) {
  const std::size_t n = needle.size();
  if (n < 2) return;
  // The rarest byte, then the rarest one at least two places from it: the two
  // bytes of one Hangul syllable come together far more often than chance.
  auto rank = [&](std::size_t i) { return kByteRank[static_cast<unsigned char>(needle[i])]; };
  auto rarest = [&](std::size_t away_from, std::size_t gap) {
    std::size_t best = n;
    for (std::size_t i = 0; i < n; ++i) {
      if (i + gap > away_from && i < away_from + gap) continue;
      if (best == n || rank(i) < rank(best)) best = i;
    }
    return best;
  };
  rare_[0] = rarest(n, 0);
  rare_[1] = rarest(rare_[0], 2);
  if (rare_[1] == n) rare_[1] = rarest(rare_[0], 1);  // a short needle with its rarest byte inside
}

const char* ByteFinder::Find(const char* begin, const char* end) const {
  const std::size_t n = needle_.size();
  if (n == 0) return begin;
  if (static_cast<std::size_t>(end - begin) < n) return end;
  if (n == 1) {
    const void* hit = std::memchr(begin, needle_[0], static_cast<std::size_t>(end - begin));
    return hit ? static_cast<const char*>(hit) : end;
  }
  static const FindFn find = ChooseFind();
  return find(begin, end, needle_, rare_);
}

}  // namespace marlix
