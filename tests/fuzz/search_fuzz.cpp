// Fuzzes the search over arbitrary file bytes and terms in all four rules,
// holding the block scan to the line-by-line rule as it goes. The file may be
// blown up by a run of one byte, so that lines longer than the longest kept
// one and reads across the reader's block boundaries occur too.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
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
  if (size < 6) return 0;
  const int rule = data[0] % 4;
  const std::size_t len1 = data[1] % 24, len2 = data[2] % 24;
  // Header bytes 3 to 5: when data[3] is 200 or more, a run of 16 KiB times
  // data[3] - 199 (up to the reader's block and the longest line several times
  // over) of the byte data[5], put in at the place data[4] picks. Most inputs
  // have none, as large ones are slow.
  const std::size_t run = data[3] >= 200 ? static_cast<std::size_t>(data[3] - 199) * 16 * 1024 : 0;
  std::string_view rest(reinterpret_cast<const char*>(data) + 6, size - 6);
  if (rest.size() < len1 + len2) return 0;
  const std::string_view term1 = rest.substr(0, len1), term2 = rest.substr(len1, len2);
  std::string file(rest.substr(len1 + len2));
  if (run > 0) file.insert(file.size() * data[4] / 256, run, static_cast<char>(data[5]));
  const std::string_view text = file;

  static const marlix::MatchRule rules[] = {marlix::MatchRule::kPostcode, marlix::MatchRule::kWords,
                                            marlix::MatchRule::kAnd, marlix::MatchRule::kOr};
  const marlix::SearchRequest request{rules[rule], marlix::Cp949View(term1), marlix::Cp949View(term2)};
  const marlix::LineMatcher matcher(request);

  // Rank by rank, each in file order.
  std::array<std::vector<std::string_view>, marlix::LineMatcher::kRanks> ranked;
  for (std::string_view line : SplitLines(text)) {
    if (matcher.Matches(line)) ranked[matcher.Rank(line)].push_back(line);
  }
  std::vector<std::string_view> expected;
  for (const auto& rank : ranked) expected.insert(expected.end(), rank.begin(), rank.end());

  std::FILE* stream = fmemopen(file.data(), file.size(), "rb");
  if (stream == nullptr) return 0;  // fmemopen refuses a zero size on some systems
  std::size_t index = 0;
  bool same = true;
  auto check = [&](std::string_view line) {
    same = same && index < expected.size() && expected[index] == line;
    ++index;
  };
  const marlix::SearchOutcome outcome = marlix::SearchStream(stream, request, check);
  std::fclose(stream);
  if (outcome.status != marlix::SearchStatus::kOk) marlix::fuzz::Fail("the search failed to read memory");
  marlix::fuzz::Check(same && index == expected.size(), "the search's lines differ from the line-by-line rule");
  marlix::fuzz::Check(outcome.matches == expected.size(), "the search counted its lines wrong");

  // A mapped file is searched in one piece and must answer the same.
  index = 0;
  same = true;
  const marlix::SearchOutcome whole = marlix::SearchBytes(text, request, check);
  marlix::fuzz::Check(same && index == expected.size() && whole.matches == expected.size(),
                      "the search over memory differs from the line-by-line rule");
  return 0;
}
