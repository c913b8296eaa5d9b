// In-process timings of the search core over the real data file, and over a
// large file when MARLIX_BENCH_LARGE names one (bench/run-bench makes it).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <forward_list>
#include <string>

#include "postcode_search.h"
#include "text.h"

namespace {

// The real file, or the large file MARLIX_BENCH_LARGE names, or a sorted one
// MARLIX_BENCH_SORTED names (bench/run-bench makes both).
enum class Data { kReal, kLarge, kSorted };

std::string DataPath(Data data) {
  const char* path = data == Data::kLarge    ? std::getenv("MARLIX_BENCH_LARGE")
                     : data == Data::kSorted ? std::getenv("MARLIX_BENCH_SORTED")
                                             : MARLIX_REAL_DATA;
  return path != nullptr ? path : "";
}

// How the file is taken: as SearchFile chooses, or always walked as a mapping
// (to weigh the mapping against the block reads on a given machine).
enum class Read { kAsChosen, kMapped };

marlix::SearchOutcome SearchOnce(const std::string& path, const marlix::SearchRequest& request, Read read,
                                 marlix::LineSink sink) {
  if (read == Read::kAsChosen) return marlix::SearchFile(path.c_str(), request, sink);
  marlix::MappedFile file(path.c_str());
  if (!file.mapped()) return {marlix::SearchStatus::kReadFailed, 0, 0};
  return marlix::SearchBytes(file.bytes(), request, sink);
}

void RunSearch(benchmark::State& state, marlix::SearchRequest request, Data data, Read read = Read::kAsChosen) {
  const std::string path = DataPath(data);
  if (path.empty()) {
    state.SkipWithError("set MARLIX_BENCH_LARGE and MARLIX_BENCH_SORTED to large data files");
    return;
  }
  request.sorted = data == Data::kSorted;
  std::size_t matches = 0;
  std::size_t bytes = 0;
  auto count = [&](std::string_view line) { bytes += line.size(); };
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop's own idiom
    const marlix::SearchOutcome outcome = SearchOnce(path, request, read, count);
    if (outcome.status != marlix::SearchStatus::kOk) {
      state.SkipWithError("cannot read the data file");
      return;
    }
    matches = outcome.matches;
  }
  benchmark::DoNotOptimize(bytes);
  state.counters["matches"] = static_cast<double>(matches);
}

// The terms as the data's CP949 bytes, made once.
marlix::Cp949View Cp949(const char* utf8) {
  static std::forward_list<marlix::Cp949String> made;
  return made.emplace_front(marlix::Cp949FromUtf8(utf8)).view();
}

const marlix::SearchRequest kCode{marlix::MatchRule::kPostcode, marlix::Cp949View("135-08"), {}};
const marlix::SearchRequest kName{marlix::MatchRule::kWords, Cp949("역삼동"), {}};
const marlix::SearchRequest kShortName{marlix::MatchRule::kWords, Cp949("동"), {}};
const marlix::SearchRequest kTwoWords{marlix::MatchRule::kWords, Cp949("강남구 역삼"), {}};
const marlix::SearchRequest kAnd{marlix::MatchRule::kAnd, Cp949("서울"), Cp949("아파트")};
const marlix::SearchRequest kOr{marlix::MatchRule::kOr, Cp949("세종"), Cp949("제주")};
const marlix::SearchRequest kAll{marlix::MatchRule::kOr, {}, {}};

}  // namespace

BENCHMARK_CAPTURE(RunSearch, real_code, kCode, Data::kReal)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, real_name, kName, Data::kReal)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, real_short_name, kShortName, Data::kReal)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, real_two_words, kTwoWords, Data::kReal)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, real_and, kAnd, Data::kReal)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, real_or, kOr, Data::kReal)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, real_all_lines, kAll, Data::kReal)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, large_code, kCode, Data::kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, large_name, kName, Data::kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, large_two_words, kTwoWords, Data::kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, large_code_mapped, kCode, Data::kLarge, Read::kMapped)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, large_name_mapped, kName, Data::kLarge, Read::kMapped)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunSearch, sorted_code_lookup, kCode, Data::kSorted)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
