// Fuzzes the postal-code normalisation and the four matching rules of one
// line against plain restatements of them, over arbitrary terms and lines.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "postcode_search.h"
#include "search_window.h"

using marlix::fuzz::Check;

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Where the characters of `line` begin: a byte 0x81-0xFE leads a two-byte one.
std::vector<bool> CharStarts(std::string_view line) {
  std::vector<bool> starts(line.size() + 1, false);
  for (std::size_t i = 0; i < line.size();
       i += static_cast<unsigned char>(line[i]) >= 0x81 && static_cast<unsigned char>(line[i]) <= 0xFE ? 2 : 1) {
    starts[i] = true;
  }
  return starts;
}

// True when `needle` begins on a character at some place from `from` on.
bool Occurs(std::string_view line, std::string_view needle, std::size_t from) {
  if (needle.empty()) return from <= line.size();
  const std::vector<bool> starts = CharStarts(line);
  for (std::size_t i = from; i + needle.size() <= line.size(); ++i) {
    if (starts[i] && line.compare(i, needle.size(), needle) == 0) return true;
  }
  return false;
}

// Today's form: five digits and a space.
bool FiveDigitLine(std::string_view line) {
  if (line.size() < 6 || line[5] != ' ') return false;
  for (int i = 0; i < 5; ++i) {
    if (!IsDigit(line[i])) return false;
  }
  return true;
}

void CheckCode(std::string_view term) {
  std::array<char, marlix::kCodeMaxBytes + 1> buffer{};
  const std::string code(marlix::NormalisePostcode(term, buffer));
  Check(code.size() <= marlix::kCodeMaxBytes && buffer[code.size()] == '\0', "code too long or not terminated");
  for (std::size_t i = 0; i < code.size(); ++i) {
    Check(IsDigit(code[i]) || code[i] == '-', "code holds a byte that is neither digit nor hyphen");
  }
  Check(code.size() <= 3 || code[3] == '-', "code without its hyphen after three bytes");
  // Only the first 8 bytes count.
  if (term.size() > 8) Check(code == marlix::NormalisePostcode(term.substr(0, 8), buffer), "bytes after 8 count");
  // Digits of the term, in order, are the code's digits: none invented.
  std::string term_digits;
  for (char c : term.substr(0, 8)) {
    if (IsDigit(c)) term_digits += c;
  }
  std::string code_digits;
  for (char c : code) {
    if (IsDigit(c)) code_digits += c;
  }
  Check(term_digits.compare(0, code_digits.size(), code_digits) == 0 || (term.size() > 3 && term[3] == '-'),
        "code digits are not the term's digits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const int tab = data[0] & 1;
  const std::size_t kind_len = (data[0] >> 1) % 16, len1 = data[1] % 160, len2 = data[2] % 160;
  const std::uint8_t kind_pick = data[3];
  std::string_view rest(reinterpret_cast<const char*>(data) + 4, size - 4);
  if (rest.size() < kind_len + len1 + len2) return 0;

  const std::string_view term1 = rest.substr(0, len1), term2 = rest.substr(len1, len2);
  const std::string_view line = rest.substr(len1 + len2 + kind_len);
  static const std::string_view kinds[] = {marlix::kKindPostcode, marlix::kKindName, marlix::kOperatorAnd,
                                           marlix::kOperatorOr};
  // Mostly a real combo text, sometimes any bytes (too long ones are cut).
  const std::string_view kind = kind_pick < 0xF0 ? kinds[kind_pick % 4] : rest.substr(len1 + len2, kind_len);

  CheckCode(term1);
  // 123456, 123-456 and 123 456 are one code.
  if (term1.size() >= 6) {
    std::string digits;
    for (char c : term1.substr(0, 6)) digits += static_cast<char>('0' + static_cast<unsigned char>(c) % 10);
    std::array<char, marlix::kCodeMaxBytes + 1> a{}, b{}, c{};
    const std::string plain(marlix::NormalisePostcode(digits, a));
    Check(plain == digits.substr(0, 3) + "-" + digits.substr(3), "six digits do not give ddd-ddd");
    Check(plain == marlix::NormalisePostcode(digits.substr(0, 3) + "-" + digits.substr(3), b), "hyphen form differs");
    Check(plain == marlix::NormalisePostcode(digits.substr(0, 3) + " " + digits.substr(3), c), "spaced form differs");
  }

  const marlix::SearchRequest request =
      marlix::RequestFromWindow(tab, kind, marlix::Cp949View(term1), marlix::Cp949View(term2));
  const marlix::LineMatcher matcher(request);
  const std::string_view cut_kind = kind.substr(0, marlix::kKindMaxBytes);
  const std::string_view t1 = term1.substr(0, marlix::kTermMaxBytes), t2 = term2.substr(0, marlix::kTermMaxBytes);
  bool expected = false;
  if (tab == 0 && cut_kind == marlix::kKindPostcode) {
    Check(matcher.rule() == marlix::MatchRule::kPostcode, "rule for the postcode kind");
    std::array<char, marlix::kCodeMaxBytes + 1> buffer{};
    const std::string_view code = marlix::NormalisePostcode(t1, buffer);
    std::string digits;
    for (char c : t1.substr(0, 8)) {
      if (IsDigit(c)) digits += c;
    }
    expected = FiveDigitLine(line) ? digits.size() >= 2 && digits.size() <= 5 && line.starts_with(digits)
                                   : code.size() >= 2 && line.substr(0, code.size()) == code;
  } else if (tab == 0) {
    Check(matcher.rule() == marlix::MatchRule::kWords, "rule for the name kind");
    std::vector<std::string_view> words;
    for (std::size_t i = 0; i < t1.size();) {
      const std::size_t end = std::min(t1.find(' ', i), t1.size());
      if (end > i) words.push_back(t1.substr(i, end - i));
      i = end + 1;
    }
    const std::size_t address = FiveDigitLine(line) ? 6 : 8;
    expected = !words.empty() && line.size() > address;
    for (std::string_view word : words) expected = expected && Occurs(line, word, address);
    // Five-digit lines read the words as people write addresses (the search
    // tests hold that reading); here it must only run safely on any bytes.
    if (FiveDigitLine(line)) {
      expected = matcher.Matches(line);
      if (expected) (void)matcher.Rank(line);
    }
  } else if (cut_kind == marlix::kOperatorAnd) {
    Check(matcher.rule() == marlix::MatchRule::kAnd, "rule for AND");
    expected = Occurs(line, t1, 0) && Occurs(line, t2, 0);
  } else {
    Check(matcher.rule() == marlix::MatchRule::kOr, "rule for OR");
    expected = Occurs(line, t1, 0) || Occurs(line, t2, 0);
  }
  Check(matcher.Matches(line) == expected, "line matched differently from the rule");
  Check(!matcher.matches_nothing() || !expected, "a rule that matches nothing matched");
  Check(!matcher.matches_everything() || expected, "a rule that matches everything did not match");

  // The boundary finder at every start: the first place on a character.
  const std::size_t from = line.empty() ? 0 : static_cast<unsigned char>(kind_pick) % (line.size() + 1);
  const std::size_t hit = marlix::FindOnCharBoundary(line, t1, from);
  Check((hit != std::string_view::npos) == Occurs(line, t1, from), "FindOnCharBoundary missed or invented a hit");
  if (hit != std::string_view::npos) {
    Check(hit >= from && line.compare(hit, t1.size(), t1) == 0 && (t1.empty() || CharStarts(line)[hit]),
          "FindOnCharBoundary hit is not a place of the term on a character");
    Check(t1.empty() || !Occurs(line.substr(0, hit + t1.size() - 1), t1, from), "FindOnCharBoundary skipped a hit");
  }
  return 0;
}
