// In-process timings of the search core over the real data file, and over a
// large file when MARLIX_BENCH_LARGE names one (bench/run-bench makes it).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "postcode_search.h"

namespace {

std::string DataPath(bool large) {
  if (large) {
    const char* path = std::getenv("MARLIX_BENCH_LARGE");
    return path != nullptr ? path : "";
  }
  return MARLIX_REAL_DATA;
}

void RunSearch(benchmark::State& state, marlix::SearchRequest request, bool large) {
  const std::string path = DataPath(large);
  if (path.empty()) {
    state.SkipWithError("set MARLIX_BENCH_LARGE to a large data file");
    return;
  }
  std::size_t matches = 0;
  std::size_t bytes = 0;
  auto count = [&](std::string_view line) { bytes += line.size(); };
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop's own idiom
    const marlix::SearchOutcome outcome = marlix::SearchFile(path.c_str(), request, count);
    if (outcome.status != marlix::SearchStatus::Ok) {
      state.SkipWithError("cannot read the data file");
      return;
    }
    matches = outcome.matches;
  }
  benchmark::DoNotOptimize(bytes);
  state.counters["matches"] = static_cast<double>(matches);
}

const marlix::SearchRequest kCode{marlix::MatchRule::Postcode, "135-08", ""};
const marlix::SearchRequest kName{marlix::MatchRule::Words, "역삼동", ""};
const marlix::SearchRequest kShortName{marlix::MatchRule::Words, "동", ""};
const marlix::SearchRequest kTwoWords{marlix::MatchRule::Words, "강남구 역삼", ""};
const marlix::SearchRequest kAnd{marlix::MatchRule::And, "서울", "아파트"};
const marlix::SearchRequest kOr{marlix::MatchRule::Or, "세종", "제주"};
const marlix::SearchRequest kAll{marlix::MatchRule::Or, "", ""};

}  // namespace

BENCHMARK_CAPTURE(RunSearch, real_code, kCode, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, real_name, kName, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, real_short_name, kShortName, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, real_two_words, kTwoWords, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, real_and, kAnd, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, real_or, kOr, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, real_all_lines, kAll, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, large_code, kCode, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, large_name, kName, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, large_two_words, kTwoWords, true)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
