// What post.csv adds to the five-digit lines of postcode.txt: the English names
// of each code's places and roads, its 행정동, and whether postcode.txt is in
// byte order. Portable; all text CP949 (English names are ASCII).
//
// Nothing is parsed up front: the constructor only reads the header and the
// last row. Beside() keeps the rows in the file: a search's questions (English
// names, 행정동) stream it once through a small buffer, and only the English
// address, which looks rows up by code, reads the whole file, once. A program
// that asks one question pays for one pass at most.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace marlix {

// post.csv's header row without its line end, in the data's CP949:
// 우편번호,시도,시군구,도로명 수,건물 수,시도 영문,시군구 영문,행정동,읍면,도로명
inline constexpr std::string_view kCodeNamesHeader =
    "\xbf\xec\xc6\xed\xb9\xf8\xc8\xa3,\xbd\xc3\xb5\xb5,\xbd\xc3\xb1\xba\xb1\xb8,"
    "\xb5\xb5\xb7\xce\xb8\xed \xbc\xf6,\xb0\xc7\xb9\xb0 \xbc\xf6,"
    "\xbd\xc3\xb5\xb5 \xbf\xb5\xb9\xae,\xbd\xc3\xb1\xba\xb1\xb8 \xbf\xb5\xb9\xae,"
    "\xc7\xe0\xc1\xa4\xb5\xbf,\xc0\xbe\xb8\xe9,\xb5\xb5\xb7\xce\xb8\xed";
// Its first five columns (to 건물 수), all that an older post.csv has.
inline constexpr std::string_view kCodeNamesOldHeader = kCodeNamesHeader.substr(0, 38);
static_assert(kCodeNamesHeader[kCodeNamesOldHeader.size()] == ',');

// post.csv's last row when every line of postcode.txt is in byte order, the
// sorted sign: "postcode.txt,BYTES,LINES,FIVE" (FIVE: the five-digit lines),
// without its line end. CodeNames reads it back.
std::string CodeNamesSortedRow(std::uint64_t bytes, std::uint64_t lines, std::uint64_t five_digit_lines);

class CodeNames {
 public:
  CodeNames() = default;
  // Takes post.csv's bytes. An older post.csv (five columns) gives no names.
  explicit CodeNames(std::string csv);
  // Reads the post.csv beside `data_file` (same folder); a missing or unreadable
  // one gives an empty CodeNames, never an error.
  static CodeNames Beside(const std::string& data_file);

  bool has_names() const;

  // These names read whole into memory once, their 행정동 and English names
  // indexed: for a
  // caller that asks many questions (a list of addresses converted at once),
  // each then costs a scan of memory or a lookup, not a pass over the file.
  CodeNames ForManyQuestions() const;

  // A place or road found by its English name: words [first, first + count) of
  // the words given, and the Korean names (CP949) that have that English name.
  struct EnglishMatch {
    std::size_t first = 0;
    std::size_t count = 0;
    std::vector<std::string> korean;
  };
  // `words` are the ASCII words of a search (as typed, any case, hyphens and
  // periods kept). Left to right, finds the longest runs of consecutive words
  // that spell the English name of a 시도, 시군구, 읍면 or road when case,
  // spaces, hyphens and periods are ignored ("nonhyeonro 8gil", "Nonhyeon-ro
  // 8-gil" and "NONHYEON-RO 8-GIL" all spell Nonhyeon-ro 8-gil). Runs do not overlap.
  // Each half of a two-word 시군구 counts as a name of its own ("Bundang-gu"
  // finds 분당구, "Seongnam-si" 성남시), as English addresses write them apart.
  std::vector<EnglishMatch> FindEnglishNames(const std::vector<std::string_view>& words) const;

  // The five-digit codes (as numbers) whose rows name `name` (CP949) among their 행정동.
  std::vector<std::uint32_t> CodesOfAdminDong(std::string_view name) const;

  // The English address of a five-digit line as Korea Post writes it, from the
  // smallest part to the largest: "67, Nonhyeon-ro 8-gil, Gangnam-gu, Seoul 06315"
  // (building number, road, 읍면 where there is one, 시군구, 시도, code).
  // Empty when the line is not a five-digit line or an English name it needs is unknown.
  // An underground number is written "Jiha 67"; a two-word 시군구 smallest first
  // ("Bundang-gu, Seongnam-si").
  std::string EnglishAddress(std::string_view line) const;

  // postcode.txt's size when post.csv says postcode.txt is in byte order, else 0.
  std::uint64_t sorted_data_bytes() const;
  // True when post.csv says postcode.txt is in byte order and that file is
  // `data_file_bytes` long: only then may a code search trust the order.
  bool TrustsOrderOf(std::uint64_t data_file_bytes) const {
    return sorted_bytes_ != 0 && sorted_bytes_ == data_file_bytes;
  }
  // True when, as well, post.csv says every line of that file is a five-digit
  // line: a name search then looks for no needle of the old lines' rule.
  bool TrustsAllFiveDigit(std::uint64_t data_file_bytes) const {
    return all_five_digit_ && TrustsOrderOf(data_file_bytes);
  }

 private:
  struct Fields;
  struct Whole;
  struct Index;
  // Takes the header row and the last row from the file's first and last bytes.
  void ReadHeaderAndSign(std::string_view head, std::string_view tail);
  // Calls `rows(begin, end)` with the code rows' bytes, whole rows at a time:
  // at once from memory, or from the file through a small buffer.
  void ForEachRows(const std::function<void(const char*, const char*)>& rows) const;
  // These names with every byte in memory: this object, or the file read once.
  const CodeNames& InMemory() const;
  // The row of a five-digit code without its line end, or empty.
  std::string_view RowOf(std::uint32_t code) const;
  // The first row whose 시도 and 시군구 are these, or empty.
  std::string_view RowOfDistrict(std::string_view sido, std::string_view sigungu) const;

  std::string csv_;
  std::string path_;                    // Beside(): the rows stay in this file
  std::shared_ptr<Whole> whole_;        // and are read whole only when asked
  std::shared_ptr<const Index> index_;  // ForManyQuestions(): each 행정동's codes, each English name's Korean
  bool has_names_ = false;
  std::size_t body_begin_ = 0;  // the first code row
  std::size_t body_end_ = 0;    // after the last code row
  std::uint64_t sorted_bytes_ = 0;
  bool all_five_digit_ = false;
};

}  // namespace marlix
