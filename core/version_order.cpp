#include "version_order.h"

#include <charconv>
#include <vector>

#include "cp949_bytes.h"

namespace marlix {

namespace {

// The next character of `text` from `pos`: one byte, or a lead byte with its
// trail byte as one unit.
unsigned NextUnit(std::string_view text, std::size_t& pos) {
  const char c = text[pos++];
  if (IsCp949LeadByte(c) && pos < text.size()) {
    return static_cast<unsigned>(static_cast<unsigned char>(c)) << 8 | static_cast<unsigned char>(text[pos++]);
  }
  return static_cast<unsigned char>(c);
}

}  // namespace

std::optional<int> CompareNumericVersions(std::string_view a, std::string_view b) {
  auto parts = [](std::string_view text) -> std::optional<std::vector<std::uint64_t>> {
    std::vector<std::uint64_t> numbers;
    if (text.empty()) return std::nullopt;
    for (;;) {
      const std::size_t dot = text.find('.');
      const std::string_view part = text.substr(0, dot);
      std::uint64_t n = 0;
      if (part.empty() || part.size() > 9) return std::nullopt;
      const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), n);
      if (error != std::errc() || end != part.data() + part.size()) return std::nullopt;
      numbers.push_back(n);
      if (dot == std::string_view::npos) break;
      text.remove_prefix(dot + 1);
    }
    return numbers.size() <= 4 ? std::optional(numbers) : std::nullopt;
  };
  const auto x = parts(a);
  const auto y = parts(b);
  if (!x || !y) return std::nullopt;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::uint64_t p = i < x->size() ? (*x)[i] : 0;
    const std::uint64_t q = i < y->size() ? (*y)[i] : 0;
    if (p != q) return p < q ? -1 : 1;
  }
  return 0;
}

std::string VersionText(const FileVersion& version) {
  return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." + std::to_string(version[2]) + "." +
         std::to_string(version[3]);
}

int CompareVersions(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const unsigned ua = NextUnit(a, i);
    const unsigned ub = NextUnit(b, j);
    if (ua != ub) return ua < ub ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace marlix
