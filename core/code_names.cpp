#include "code_names.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "building_number.h"
#include "byte_finder.h"
#include "data_files.h"
#include "file_stream.h"
#include "line_form.h"
#include "text.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define MARLIX_NAMES_SSE2 1
#endif

namespace marlix {

namespace {

// post.csv's columns, counted from 0.
constexpr std::size_t kColumns = 10;
constexpr std::size_t kSidoColumn = 1;
constexpr std::size_t kSigunguColumn = 2;
constexpr std::size_t kSidoEnglishColumn = 5;
constexpr std::size_t kSigunguEnglishColumn = 6;
constexpr std::size_t kAdminDongColumn = 7;
constexpr std::size_t kEupmyeonColumn = 8;
constexpr std::size_t kRoadColumn = 9;

// The sorted sign's row: the data file's name, a comma, its numbers.
constexpr std::size_t kSortedSignBytes = std::string_view(kPostcodeFile).size() + 1;
constexpr bool IsSortedSignRow(std::string_view row) {
  return row.starts_with(kPostcodeFile) && row.substr(kSortedSignBytes - 1).starts_with(',');
}
// Far beyond any real post.csv; a larger file is not one, and is not read.
constexpr long kMaxCsvBytes = 256L << 20;
constexpr std::string_view kUnderground = "\xC1\xF6\xC7\xCF";  // 지하
constexpr std::string_view kUndergroundEnglish = "Jiha ";

bool IsDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return IsAsciiDigit(c); });
}

std::uint64_t Number(std::string_view digits) {
  std::uint64_t n = 0;
  for (char c : digits) n = n * 10 + static_cast<std::uint64_t>(c - '0');
  return n;
}

// A row without its line end, CR LF or LF.
std::string_view WithoutCr(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// What a comparison of English names passes over.
bool IsIgnored(char c) { return c == '-' || c == '.' || c == ' '; }

// Where a name inside a field ends: the next item, field or row.
bool EndsName(char c) { return c == ';' || c == ',' || c == '"' || c == '=' || c == '\r' || c == '\n'; }

// The English of `korean` in a list of KOREAN=ENGLISH items joined by ';'; no
// value when the list does not name it (an empty one when its English is unknown).
std::optional<std::string_view> EnglishOf(std::string_view items, std::string_view korean) {
  while (!items.empty()) {
    const std::size_t semicolon = items.find(';');
    const std::string_view item = items.substr(0, semicolon);
    const std::size_t equals = item.find('=');
    if (equals != std::string_view::npos && item.substr(0, equals) == korean) return item.substr(equals + 1);
    if (semicolon == std::string_view::npos) break;
    items.remove_prefix(semicolon + 1);
  }
  return std::nullopt;
}

// The search's words one after another, in the form names are compared in.
struct Query {
  std::string text;
  std::vector<std::size_t> ends;  // where each word ends in `text`
  std::size_t start(std::size_t word) const { return word == 0 ? 0 : ends[word - 1]; }
};

Query Normalised(const std::vector<std::string_view>& words) {
  Query q;
  for (std::string_view word : words) {
    for (char c : word) {
      // A comma too: pasted English addresses separate their parts with one.
      if (!IsIgnored(c) && c != ',') q.text += AsciiLower(c);
    }
    q.ends.push_back(q.text.size());
  }
  return q;
}

// The word after the last one that the name at `s` spells in full from word
// `first` on, or 0 when it spells no whole run of words.
std::size_t SpelledEnd(const char* s, const char* end, const Query& q, std::size_t first, bool stop_at_space) {
  const std::size_t begin = q.start(first);
  std::size_t k = begin;
  for (; s < end && !EndsName(*s); ++s) {
    if (*s == ' ' && stop_at_space) break;
    if (IsIgnored(*s)) continue;
    if (k >= q.text.size() || AsciiLower(*s) != q.text[k]) return 0;
    ++k;
  }
  if (k == begin) return 0;
  std::size_t last = 0;
  for (std::size_t w = first; w < q.ends.size() && q.ends[w] <= k; ++w) {
    if (q.ends[w] == k) last = w + 1;
  }
  return last;
}

// Calls `hit(p)` for every p in [begin, end - 1) where an English name can
// begin at p + 1 with one of `letters` (lower case, either case matches) after
// '=', ',' or ' ', or with one of `digits` after '=': no place name begins with
// a digit, and digits after ',' are counts.
template <class Hit>
void ScanNameStarts(const char* begin, const char* end, std::string_view letters, std::string_view digits, Hit&& hit) {
  auto is_start = [&](const char* p) {
    if (*p == '=' && digits.find(p[1]) != std::string_view::npos) return true;
    return (*p == '=' || *p == ',' || *p == ' ') &&
           letters.find(static_cast<char>(p[1] | 0x20)) != std::string_view::npos;
  };
  const char* p = begin;
#ifdef MARLIX_NAMES_SSE2
  __m128i wanted_letters[26];
  __m128i wanted_digits[10];
  const std::size_t letter_kinds = std::min(letters.size(), std::size(wanted_letters));
  const std::size_t digit_kinds = std::min(digits.size(), std::size(wanted_digits));
  for (std::size_t i = 0; i < letter_kinds; ++i) wanted_letters[i] = _mm_set1_epi8(letters[i]);
  for (std::size_t i = 0; i < digit_kinds; ++i) wanted_digits[i] = _mm_set1_epi8(digits[i]);
  const __m128i equals = _mm_set1_epi8('='), comma = _mm_set1_epi8(','), space = _mm_set1_epi8(' ');
  const __m128i case_bit = _mm_set1_epi8(0x20);
  // Sixteen places at a time while the byte after the last one is in the block.
  while (end - p > 16) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i next_lower = _mm_or_si128(next, case_bit);
    const __m128i after_equals = _mm_cmpeq_epi8(here, equals);
    const __m128i after_any =
        _mm_or_si128(after_equals, _mm_or_si128(_mm_cmpeq_epi8(here, comma), _mm_cmpeq_epi8(here, space)));
    __m128i letter = _mm_setzero_si128();
    for (std::size_t i = 0; i < letter_kinds; ++i)
      letter = _mm_or_si128(letter, _mm_cmpeq_epi8(next_lower, wanted_letters[i]));
    __m128i digit = _mm_setzero_si128();
    for (std::size_t i = 0; i < digit_kinds; ++i) digit = _mm_or_si128(digit, _mm_cmpeq_epi8(next, wanted_digits[i]));
    auto mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_and_si128(after_any, letter), _mm_and_si128(after_equals, digit))));
    while (mask != 0) {
      hit(p + std::countr_zero(mask));
      mask &= mask - 1;
    }
    p += 16;
  }
#endif
  for (; end - p > 1; ++p) {
    if (is_start(p)) hit(p);
  }
}

}  // namespace

// The fields of one row; a quoted field is unquoted into storage of its own,
// so a Fields stays where it was made.
struct CodeNames::Fields {
  explicit Fields(std::string_view row) {
    std::size_t i = 0;
    while (count < kColumns) {
      if (i < row.size() && row[i] == '"') {
        std::string& text = unquoted[count];
        for (++i; i < row.size(); ++i) {
          if (row[i] == '"') {
            if (i + 1 < row.size() && row[i + 1] == '"') {
              text += '"';
              ++i;
              continue;
            }
            break;
          }
          text += row[i];
        }
        at[count++] = text;
        const std::size_t comma = row.find(',', i);
        if (comma == std::string_view::npos) break;
        i = comma + 1;
      } else {
        const std::size_t comma = row.find(',', i);
        at[count++] = row.substr(std::min(i, row.size()), comma == std::string_view::npos ? row.npos : comma - i);
        if (comma == std::string_view::npos) break;
        i = comma + 1;
      }
    }
  }
  Fields(const Fields&) = delete;
  Fields& operator=(const Fields&) = delete;

  std::string_view operator[](std::size_t column) const { return column < count ? at[column] : std::string_view(); }

  std::array<std::string_view, kColumns> at{};
  std::array<std::string, kColumns> unquoted;
  std::size_t count = 0;
};

struct CodeNames::Index {
  std::unordered_map<std::string, std::vector<std::uint32_t>> admin_dong_codes;
  // By the English name as Normalised() spells it: the Korean names, sorted.
  std::unordered_map<std::string, std::vector<std::string>> korean;
  std::size_t longest_english = 0;

  void AddEnglish(std::string_view english, std::string_view name) {
    std::string key;
    for (const char c : english) {
      if (!IsIgnored(c)) key += AsciiLower(c);
    }
    if (key.empty() || name.empty()) return;
    std::vector<std::string>& names = korean[key];
    const auto at = std::lower_bound(names.begin(), names.end(), name);
    if (at == names.end() || *at != name) names.insert(at, std::string(name));
    longest_english = std::max(longest_english, key.size());
  }
  // KOREAN=ENGLISH items joined by ';'.
  void AddItems(std::string_view items) {
    while (!items.empty()) {
      const std::size_t semicolon = std::min(items.find(';'), items.size());
      const std::string_view item = items.substr(0, semicolon);
      const std::size_t equals = item.find('=');
      if (equals != std::string_view::npos) AddEnglish(item.substr(equals + 1), item.substr(0, equals));
      items.remove_prefix(std::min(semicolon + 1, items.size()));
    }
  }
};

struct CodeNames::Whole {
  std::once_flag once;
  std::unique_ptr<CodeNames> names;
};

std::string CodeNamesSortedRow(std::uint64_t bytes, std::uint64_t lines, std::uint64_t five_digit_lines) {
  return std::string(kPostcodeFile) + ',' + std::to_string(bytes) + ',' + std::to_string(lines) + ',' +
         std::to_string(five_digit_lines);
}

CodeNames::CodeNames(std::string csv) : csv_(std::move(csv)) {
  ReadHeaderAndSign(csv_, csv_);
  if (!has_names_) return;
  // Offsets into csv_: the rows between the header and the sign (if any).
  body_begin_ = csv_.find('\n') + 1;
  std::size_t last_end = csv_.size();
  body_end_ = last_end;
  while (last_end > body_begin_ && (csv_[last_end - 1] == '\n' || csv_[last_end - 1] == '\r')) --last_end;
  if (last_end > body_begin_) {
    const std::size_t last_begin = csv_.rfind('\n', last_end - 1) + 1;  // the header's '\n' bounds it
    if (IsSortedSignRow(std::string_view(csv_).substr(last_begin))) body_end_ = last_begin;
  }
}

void CodeNames::ReadHeaderAndSign(std::string_view head, std::string_view tail) {
  const std::size_t header_end = head.find('\n');
  if (header_end == std::string_view::npos) return;
  const std::string_view header = WithoutCr(head.substr(0, header_end));
  has_names_ = static_cast<std::size_t>(std::count(header.begin(), header.end(), ',')) >= kColumns - 1;
  if (!has_names_) return;  // an older post.csv: nothing here to answer with

  // The last row tells whether postcode.txt is in byte order.
  std::size_t last_end = tail.size();
  while (last_end > 0 && (tail[last_end - 1] == '\n' || tail[last_end - 1] == '\r')) --last_end;
  const std::size_t newline = last_end == 0 ? std::string_view::npos : tail.rfind('\n', last_end - 1);
  if (newline == std::string_view::npos) return;  // no row after the header
  const std::string_view last = tail.substr(newline + 1, last_end - newline - 1);
  if (!IsSortedSignRow(last)) return;
  // BYTES,LINES[,FIVE]: FIVE, the number of five-digit lines, is newer and optional.
  std::string_view fields[3];
  std::size_t count = 0;
  for (std::string_view rest = last.substr(kSortedSignBytes); count < 3;) {
    const std::size_t comma = rest.find(',');
    fields[count++] = rest.substr(0, comma);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  auto number = [](std::string_view f) { return IsDigits(f) && f.size() <= 15; };
  if (count < 2 || !number(fields[0]) || !number(fields[1]) || (count == 3 && !number(fields[2]))) return;
  sorted_bytes_ = Number(fields[0]);
  all_five_digit_ = count == 3 && fields[1] == fields[2];
}

CodeNames CodeNames::Beside(const std::string& data_file) {
  const std::size_t slash = data_file.find_last_of("/\\");
  CodeNames names;
  names.path_ = (slash == std::string::npos ? std::string() : data_file.substr(0, slash + 1)) + kCodeNamesFile;
  const FileStream stream = OpenFileStream(names.path_, "rb");
  if (!stream) return {};
  std::FILE* const file = stream.get();
  // The header row and the last row; the rows between stay in the file.
  constexpr std::size_t kEnds = 4096;
  std::string head(kEnds, '\0');
  std::string tail(kEnds, '\0');
  head.resize(std::fread(head.data(), 1, head.size(), file));
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  if (size > static_cast<long>(kEnds) && std::fseek(file, size - static_cast<long>(kEnds), SEEK_SET) == 0) {
    tail.resize(std::fread(tail.data(), 1, tail.size(), file));
  } else {
    tail = head;
  }
  const bool read = std::ferror(file) == 0;
  if (!read || size < 0 || size > kMaxCsvBytes) return {};
  names.ReadHeaderAndSign(head, tail);
  if (!names.has_names_) return {};
  names.whole_ = std::make_shared<Whole>();
  return names;
}

const CodeNames& CodeNames::InMemory() const {
  if (path_.empty()) return *this;
  std::call_once(whole_->once, [this] {
    std::string bytes;
    if (const FileStream file = OpenFileStream(path_, "rb")) {
      char block[1 << 16];
      for (std::size_t got;
           (got = std::fread(block, 1, sizeof block, file.get())) > 0 && bytes.size() <= kMaxCsvBytes;) {
        bytes.append(block, got);
      }
      if (std::ferror(file.get()) != 0) bytes.clear();
    }
    whole_->names = std::make_unique<CodeNames>(std::move(bytes));
  });
  return *whole_->names;
}

void CodeNames::ForEachRows(const std::function<void(const char*, const char*)>& rows) const {
  if (!has_names_) return;
  if (path_.empty()) {
    rows(csv_.data() + body_begin_, csv_.data() + body_end_);
    return;
  }
  // Closed however the rows' reader ends.
  const FileStream stream = OpenFileStream(path_, "rb");
  if (!stream) return;
  std::FILE* const file = stream.get();
  // A buffer that is used again costs far less than one of the file's size:
  // fresh memory is paid for page by page.
  std::vector<char> buffer(1 << 18);
  std::size_t have = 0;
  bool header = true;
  for (;;) {
    const std::size_t got = std::fread(buffer.data() + have, 1, buffer.size() - have, file);
    have += got;
    const bool at_end = got == 0;
    const std::string_view held(buffer.data(), have);
    // Whole rows only; at the end, whatever is left.
    const std::size_t newline = held.rfind('\n');
    const std::size_t cut = at_end ? have : newline == std::string_view::npos ? 0 : newline + 1;
    if (cut == 0 && !at_end) {
      if (buffer.size() >= (std::size_t{1} << 24)) break;  // a 16 MB row is no row of post.csv
      buffer.resize(buffer.size() * 2);
      continue;
    }
    std::size_t from = 0;
    if (header) {
      from = held.substr(0, cut).find('\n') + 1;  // the header ends at or before the cut
      header = false;
    }
    if (cut > from) rows(buffer.data() + from, buffer.data() + cut);
    std::memmove(buffer.data(), buffer.data() + cut, have - cut);
    have -= cut;
    if (at_end) break;
  }
}

CodeNames CodeNames::ForManyQuestions() const {
  CodeNames whole = InMemory();
  if (!whole.has_names_) return whole;
  auto index = std::make_shared<Index>();
  const std::string_view all(whole.csv_);
  for (std::size_t at = whole.body_begin_; at < whole.body_end_;) {
    const std::size_t newline = all.find('\n', at);
    const std::size_t end = newline == std::string_view::npos || newline > whole.body_end_ ? whole.body_end_ : newline;
    const Fields fields(WithoutCr(all.substr(at, end - at)));
    at = end + 1;
    const std::string_view code = fields[0];
    if (code.size() != 5 || !IsDigits(code)) continue;
    // The 행정동 field: its names joined by ';', rows in code order.
    std::string_view names = fields[kAdminDongColumn];
    while (!names.empty()) {
      const std::size_t semicolon = std::min(names.find(';'), names.size());
      std::vector<std::uint32_t>& codes = index->admin_dong_codes[std::string(names.substr(0, semicolon))];
      const auto number = static_cast<std::uint32_t>(Number(code));
      if (codes.empty() || codes.back() != number) codes.push_back(number);
      names.remove_prefix(std::min(semicolon + 1, names.size()));
    }
    // The English names as FindEnglishNames reads them: 시도, 시군구 and
    // each half of a two-word one, 읍면 and roads.
    index->AddEnglish(fields[kSidoEnglishColumn], fields[kSidoColumn]);
    const std::string_view sigungu = fields[kSigunguColumn], english = fields[kSigunguEnglishColumn];
    index->AddEnglish(english, sigungu);
    const std::size_t space = sigungu.find(' '), english_space = english.find(' ');
    if (space != std::string_view::npos && english_space != std::string_view::npos) {
      index->AddEnglish(english.substr(0, english_space), sigungu.substr(0, space));
      if (sigungu.find(' ', space + 1) == std::string_view::npos) {
        index->AddEnglish(english.substr(english_space + 1), sigungu.substr(space + 1));
      }
    }
    index->AddItems(fields[kEupmyeonColumn]);
    index->AddItems(fields[kRoadColumn]);
  }
  whole.index_ = std::move(index);
  return whole;
}

bool CodeNames::has_names() const { return has_names_; }

std::uint64_t CodeNames::sorted_data_bytes() const { return sorted_bytes_; }

std::string_view CodeNames::RowOf(std::uint32_t code) const {
  const std::string_view all(csv_);
  auto row_at = [&](std::size_t begin, std::size_t end) { return WithoutCr(all.substr(begin, end - begin)); };
  auto code_of = [&](std::string_view row) -> std::optional<std::uint32_t> {
    if (row.size() < 6 || row[5] != ',' || !IsDigits(row.substr(0, 5))) return std::nullopt;
    return static_cast<std::uint32_t>(Number(row.substr(0, 5)));
  };
  // Rows come in code order: halve the rows' bytes until the code's row is found.
  std::size_t lo = body_begin_;
  std::size_t hi = body_end_;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    const std::size_t begin = all.rfind('\n', mid - 1) + 1;  // lo follows a '\n'
    const std::size_t newline = all.find('\n', mid);
    const std::size_t end = newline == std::string_view::npos || newline >= hi ? hi : newline + 1;
    const std::string_view row = row_at(begin, end);
    const std::optional<std::uint32_t> at = code_of(row);
    if (!at) break;  // a broken row: look the slow way below
    if (*at == code) return row;
    if (*at < code) {
      lo = end;
    } else {
      hi = begin;
    }
  }
  if (lo >= hi || code >= 100000) return {};
  char key[8];
  std::snprintf(key, sizeof key, "\n%05u,", static_cast<unsigned>(code % 100000));
  const std::string_view rows = all.substr(body_begin_ - 1, body_end_ - body_begin_ + 1);
  const std::size_t found = rows.find(key);
  if (found == std::string_view::npos) return {};
  const std::size_t begin = body_begin_ + found;
  return row_at(begin, std::min(all.find('\n', begin), body_end_));
}

std::string_view CodeNames::RowOfDistrict(std::string_view sido, std::string_view sigungu) const {
  std::string key = ",";
  key.append(sido).append(",").append(sigungu).append(",");
  const ByteFinder finder(key);
  const std::string_view all(csv_);
  const char* const begin = all.data() + body_begin_;
  const char* const end = all.data() + body_end_;
  for (const char* p = begin; (p = finder.Find(p, end)) != end; ++p) {
    // Only as a row's second and third field: five digits and the key.
    if (p - begin < 5 || (p - begin > 5 && p[-6] != '\n')) continue;
    const auto row_begin = static_cast<std::size_t>(p - 5 - all.data());
    const std::size_t row_end = std::min(all.find('\n', row_begin), body_end_);
    return WithoutCr(all.substr(row_begin, row_end - row_begin));
  }
  return {};
}

std::vector<CodeNames::EnglishMatch> CodeNames::FindEnglishNames(const std::vector<std::string_view>& words) const {
  std::vector<EnglishMatch> matches;
  if (!has_names_ || words.empty()) return matches;
  const Query q = Normalised(words);
  const std::size_t word_count = std::min<std::size_t>(words.size(), 64);
  if (index_ != nullptr) {
    // Left to right, the longest run of words from each that spells a name.
    for (std::size_t w = 0; w < word_count;) {
      const std::vector<std::string>* korean = nullptr;
      std::size_t after = 0;
      for (std::size_t e = w; q.start(w) < q.ends[w] && e < word_count; ++e) {
        const std::size_t length = q.ends[e] - q.start(w);
        if (length > index_->longest_english) break;
        const auto found = index_->korean.find(q.text.substr(q.start(w), length));
        if (found != index_->korean.end()) {
          korean = &found->second;
          after = e + 1;
        }
      }
      if (korean == nullptr) {
        ++w;
        continue;
      }
      matches.push_back({w, after - w, *korean});
      w = after;
    }
    return matches;
  }
  // The first characters of the words that can begin a run, each once.
  std::string letters, digits;
  for (std::size_t w = 0; w < word_count; ++w) {
    if (q.start(w) == q.ends[w]) continue;
    const char c = q.text[q.start(w)];
    std::string& set = IsAsciiDigit(c) ? digits : letters;
    if ((IsAsciiDigit(c) || (c >= 'a' && c <= 'z')) && set.find(c) == std::string::npos) set += c;
  }
  if (letters.empty() && digits.empty()) return matches;

  struct Found {
    std::size_t first, end;
    std::string korean;
  };
  std::vector<Found> found;
  auto add = [&](std::size_t first, std::size_t after, std::string_view korean) {
    // Rows next to each other often repeat a name: keep it once.
    if (after == 0 || korean.empty()) return;
    if (!found.empty() && found.back().first == first && found.back().end == after && found.back().korean == korean)
      return;
    found.push_back({first, after, std::string(korean)});
  };
  // Whole rows at a time, so that every row found is in [begin, end).
  ForEachRows([&](const char* const begin, const char* const end) {
    auto row_begin = [&](const char* p) {
      while (p > begin && p[-1] != '\n') --p;
      return p;
    };
    // The field that `p` is in, counted from 0, when no field before it is quoted.
    auto column = [&](const char* row, const char* p) { return static_cast<std::size_t>(std::count(row, p, ',')); };
    // The Korean field of a row's place column (시도 or 시군구).
    auto place = [&](const char* row, std::size_t korean_column) {
      std::string_view rest(row, static_cast<std::size_t>(end - row));
      for (std::size_t c = 0; c < korean_column && !rest.empty(); ++c)
        rest.remove_prefix(std::min(rest.find(','), rest.size() - 1) + 1);
      return rest.substr(0, rest.find(','));
    };

    // What each word that can begin here spells: in full, and up to a space.
    struct Spelled {
      std::size_t word, full, half;
    };
    std::array<Spelled, 64> spelled;
    ScanNameStarts(begin, end, letters, digits, [&](const char* at) {
      const char* const name = at + 1;
      std::size_t n = 0;
      for (std::size_t w = 0; w < word_count; ++w) {
        if (q.start(w) == q.ends[w] || q.text[q.start(w)] != static_cast<char>(*name | 0x20)) continue;
        const std::size_t full = SpelledEnd(name, end, q, w, false);
        const std::size_t half = *at == ',' ? SpelledEnd(name, end, q, w, true) : 0;
        if (full != 0 || half != 0) spelled[n++] = {w, full, half};
      }
      if (n == 0) return;
      if (*at == '=') {  // an item of 읍면 or 도로명: its Korean before the '='
        const char* k = at;
        while (k > begin && k[-1] != ';' && k[-1] != ',' && k[-1] != '"') --k;
        for (std::size_t i = 0; i < n; ++i)
          add(spelled[i].word, spelled[i].full, std::string_view(k, static_cast<std::size_t>(at - k)));
        return;
      }
      const char* row = row_begin(at);
      if (*at == ',') {  // the start of 시도 영문 or 시군구 영문
        const std::size_t field = column(row, name);
        if (field == kSidoEnglishColumn) {
          for (std::size_t i = 0; i < n; ++i) add(spelled[i].word, spelled[i].full, place(row, kSidoColumn));
        }
        if (field != kSigunguEnglishColumn) return;
        const std::string_view korean = place(row, kSigunguColumn);
        const std::size_t space = korean.find(' ');
        for (std::size_t i = 0; i < n; ++i) {
          add(spelled[i].word, spelled[i].full, korean);
          // The first of a two-word 시군구 by itself.
          if (space != std::string_view::npos) add(spelled[i].word, spelled[i].half, korean.substr(0, space));
        }
        return;
      }
      // A space: the second of a two-word 시군구, when it lies in 시군구 영문.
      const char* k = at;
      while (k > row && !EndsName(k[-1])) --k;
      if (k == row || k[-1] != ',' || column(row, at) != kSigunguEnglishColumn || std::count(k, at + 1, ' ') != 1)
        return;
      const std::string_view korean = place(row, kSigunguColumn);
      const std::size_t space = korean.find(' ');
      if (space == std::string_view::npos || korean.find(' ', space + 1) != std::string_view::npos) return;
      for (std::size_t i = 0; i < n; ++i) add(spelled[i].word, spelled[i].full, korean.substr(space + 1));
    });
  });

  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return std::tie(a.first, b.end, a.korean) < std::tie(b.first, a.end, b.korean);  // longest run first
  });
  for (std::size_t i = 0, next = 0; i < found.size(); ++i) {
    const Found& f = found[i];
    if (f.first < next) continue;  // inside a run taken already, or shorter than the one taken
    if (matches.empty() || matches.back().first != f.first) {
      matches.push_back({f.first, f.end - f.first, {}});
    } else if (matches.back().count != f.end - f.first) {
      continue;
    }
    std::vector<std::string>& korean = matches.back().korean;
    if (korean.empty() || korean.back() != f.korean) korean.emplace_back(f.korean);
    if (i + 1 == found.size() || found[i + 1].first != f.first || found[i + 1].end != f.end) next = f.end;
  }
  return matches;
}

std::vector<std::uint32_t> CodeNames::CodesOfAdminDong(std::string_view name) const {
  std::vector<std::uint32_t> codes;
  if (!has_names_ || name.empty()) return codes;
  if (index_ != nullptr) {
    const auto found = index_->admin_dong_codes.find(std::string(name));
    if (found != index_->admin_dong_codes.end()) codes = found->second;
    return codes;
  }
  const ByteFinder finder(name);
  ForEachRows([&](const char* const begin, const char* const end) {
    for (const char* p = begin; (p = finder.Find(p, end)) != end; ++p) {
      // A whole item of the 행정동 field only.
      const char before = p == begin ? '\n' : p[-1];
      const char* const after = p + name.size();
      if (before != ',' && before != ';' && before != '"') continue;
      if (after != end && *after != ',' && *after != ';' && *after != '"' && *after != '\r' && *after != '\n') continue;
      const char* row = p;
      while (row > begin && row[-1] != '\n') --row;
      const std::string_view head(row, static_cast<std::size_t>(p - row));
      if (static_cast<std::size_t>(std::count(head.begin(), head.end(), ',')) != kAdminDongColumn) continue;
      if (head.size() < 6 || head[5] != ',' || !IsDigits(head.substr(0, 5))) continue;
      const auto code = static_cast<std::uint32_t>(Number(head.substr(0, 5)));
      if (codes.empty() || codes.back() != code) codes.push_back(code);
    }
  });
  return codes;
}

std::string CodeNames::EnglishAddress(std::string_view line) const {
  if (!has_names_ || !IsFiveDigitLine(line)) return {};
  if (!path_.empty()) return InMemory().EnglishAddress(line);
  const std::string_view code = line.substr(0, 5);
  const std::string_view row = RowOf(static_cast<std::uint32_t>(Number(code)));
  if (row.empty()) return {};
  const Fields fields(row);

  // The address's words up to its building number: 시도, [시군구], [읍면], 도로명.
  std::vector<std::string_view> words;
  std::string_view rest = line.substr(6);
  std::string_view number;
  bool underground = false;
  while (!rest.empty() && number.empty()) {
    const std::size_t space = rest.find(' ');
    const std::string_view word = rest.substr(0, space);
    rest.remove_prefix(space == std::string_view::npos ? rest.size() : space + 1);
    if (word.empty()) continue;
    if (IsBuildingNumber(word)) {
      number = word;
    } else if (word == kUnderground && IsBuildingNumber(rest.substr(0, rest.find(' ')))) {
      underground = true;
    } else {
      words.push_back(word);
    }
  }
  if (number.empty() || words.size() < 2) return {};
  const std::string_view road = words.back();
  words.pop_back();
  const std::string_view sido = words.front();
  std::string_view eupmyeon;
  std::optional<std::string_view> eupmyeon_english;
  if (words.size() > 1) {
    eupmyeon_english = EnglishOf(fields[kEupmyeonColumn], words.back());
    if (eupmyeon_english) {
      eupmyeon = words.back();
      words.pop_back();
    }
  }
  // The words between 시도 and 읍면 or 도로명, as the line writes them.
  const std::string_view sigungu =
      words.size() < 2
          ? std::string_view()
          : std::string_view(words[1].data(),
                             static_cast<std::size_t>(words.back().data() + words.back().size() - words[1].data()));

  const std::optional<std::string_view> road_english = EnglishOf(fields[kRoadColumn], road);
  if (!road_english || road_english->empty() || (eupmyeon_english && eupmyeon_english->empty())) return {};

  // A code that spans two districts: the names of the line's district come from a row that has it.
  std::string_view place_row = row;
  if (fields[kSidoColumn] != sido || fields[kSigunguColumn] != sigungu) place_row = RowOfDistrict(sido, sigungu);
  if (place_row.empty()) return {};
  const Fields place(place_row);
  const std::string_view sido_english = place[kSidoEnglishColumn];
  const std::string_view sigungu_english = place[kSigunguEnglishColumn];
  if (sido_english.empty() || (!sigungu.empty() && sigungu_english.empty())) return {};

  std::string english;
  if (underground) english += kUndergroundEnglish;
  english.append(number).append(", ").append(*road_english);
  if (!eupmyeon.empty()) english.append(", ").append(*eupmyeon_english);
  if (!sigungu.empty()) {
    // "Seongnam-si Bundang-gu" goes smallest first, as the rest of the address.
    const std::size_t space = sigungu_english.find(' ');
    if (sigungu.find(' ') != std::string_view::npos && space != std::string_view::npos &&
        sigungu_english.find(' ', space + 1) == std::string_view::npos) {
      english.append(", ")
          .append(sigungu_english.substr(space + 1))
          .append(", ")
          .append(sigungu_english.substr(0, space));
    } else {
      english.append(", ").append(sigungu_english);
    }
  }
  english.append(", ").append(sido_english).append(" ").append(code);
  return english;
}

}  // namespace marlix
