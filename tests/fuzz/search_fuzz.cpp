// Fuzzes the search over arbitrary file bytes and terms in all four rules,
// holding the block scan to the line-by-line rule as it goes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "copy_cut.h"
#include "postcode_search.h"

namespace {

// The lines of `text` as the reader must see them, for the reference answer.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t lf = text.find('\n');
    const bool had_lf = lf != std::string_view::npos;
    std::string_view line = text.substr(0, had_lf ? lf : text.size());
    text.remove_prefix(had_lf ? lf + 1 : text.size());
    if (had_lf && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (std::size_t nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
    if (line.size() > marlix::kLineMaxBytes) line = line.substr(0, marlix::kLineMaxBytes);
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int rule = data[0] % 4;
  const std::size_t len1 = data[1] % 24, len2 = data[2] % 24;
  std::string_view rest(reinterpret_cast<const char*>(data) + 3, size - 3);
  if (rest.size() < len1 + len2) return 0;
  const std::string_view term1 = rest.substr(0, len1), term2 = rest.substr(len1, len2);
  const std::string_view text = rest.substr(len1 + len2);

  static const std::string_view kinds[] = {marlix::kKindPostcode, marlix::kKindName, marlix::kOperatorAnd,
                                           marlix::kOperatorOr};
  const marlix::SearchRequest request{rule < 2 ? 0 : 1, kinds[rule], term1, term2};
  const marlix::LineMatcher matcher(request);

  std::vector<std::string_view> expected;
  for (std::string_view line : SplitLines(text)) {
    if (matcher.Matches(line)) expected.push_back(line);
  }

  std::FILE* stream = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
  if (stream == nullptr) return 0;  // fmemopen refuses a zero size on some systems
  std::size_t index = 0;
  bool same = true;
  auto check = [&](std::string_view line) {
    same = same && index < expected.size() && expected[index] == line;
    ++index;
    (void)marlix::CutForCopy(line, static_cast<int>(line.size() % 3));
  };
  const marlix::SearchOutcome outcome = marlix::SearchStream(stream, request, check);
  std::fclose(stream);
  if (!same || index != expected.size() || outcome.matches != expected.size()) std::abort();
  return 0;
}
