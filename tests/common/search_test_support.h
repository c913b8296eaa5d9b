// Helpers shared by the search tests of both builds.
#pragma once

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "postcode_search.h"

namespace marlix::testing {

// A file with the given bytes that disappears with the object.
class TempFile {
 public:
  explicit TempFile(std::string_view bytes) : path_(UniquePath()) {
    std::ofstream(path_, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  ~TempFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  std::string path() const { return path_.string(); }

 private:
  static std::filesystem::path UniquePath() {
    static std::mt19937_64 names{std::random_device{}()};
    return std::filesystem::temp_directory_path() / ("marlix-test-" + std::to_string(names()) + ".txt");
  }

  std::filesystem::path path_;
};

inline std::vector<std::string> SearchLines(const std::string& path, const SearchRequest& request,
                                            SearchOutcome* outcome = nullptr) {
  std::vector<std::string> lines;
  auto keep = [&](std::string_view line) { lines.emplace_back(line); };
  SearchOutcome result = SearchFile(path.c_str(), request, keep);
  if (outcome != nullptr) *outcome = result;
  return lines;
}

inline std::vector<std::string> SearchText(std::string_view file_bytes, const SearchRequest& request) {
  TempFile file(file_bytes);
  return SearchLines(file.path(), request);
}

// The lines of `text` in byte order (as LC_ALL=C sort puts them), each ended by `line_end`.
inline std::string SortedLines(const std::vector<std::string>& lines, std::string_view line_end) {
  std::vector<std::string> sorted = lines;
  std::sort(sorted.begin(), sorted.end());
  std::string text;
  for (const std::string& line : sorted) text.append(line).append(line_end);
  return text;
}

// What a search of a sorted file lists with its lookup and with a plain read.
struct SortedAndScanned {
  std::vector<std::string> looked_up, scanned;
};
inline SortedAndScanned SearchSorted(const std::string& path, SearchRequest request) {
  request.sorted = true;
  SortedAndScanned out{SearchLines(path, request), {}};
  request.sorted = false;
  out.scanned = SearchLines(path, request);
  return out;
}

// Requests of the data's CP949 bytes.
inline SearchRequest Postcode(std::string_view term) { return {MatchRule::kPostcode, Cp949View(term), {}}; }
inline SearchRequest Name(std::string_view term) { return {MatchRule::kWords, Cp949View(term), {}}; }
inline SearchRequest And(std::string_view t1, std::string_view t2) {
  return {MatchRule::kAnd, Cp949View(t1), Cp949View(t2)};
}
inline SearchRequest Or(std::string_view t1, std::string_view t2) {
  return {MatchRule::kOr, Cp949View(t1), Cp949View(t2)};
}

}  // namespace marlix::testing
