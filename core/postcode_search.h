// The postcode search over the data file: the normalised code, the four
// matching rules and the line reader. Portable; the window and the CLI call it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <type_traits>
#include <vector>

#include "address_terms.h"
#include "cp949_bytes.h"
#include "mapped_file.h"

namespace marlix {

// Limits of the search's working storage, in bytes without the terminating zero.
inline constexpr std::size_t kTermMaxBytes = 127;
inline constexpr std::size_t kCodeMaxBytes = 7;
// A five-digit code: the term's digits that are looked for at a five-digit line's start.
inline constexpr std::size_t kDigitsMaxBytes = 5;
// A line longer than this stays one line; only its first kLineMaxBytes take part.
inline constexpr std::size_t kLineMaxBytes = 64 * 1024;

// The four ways of matching a line:
// - Postcode: the code typed in term 1 begins the line's postal code;
// - Words: every space-separated word of term 1 is in the line's address;
// - And, Or: term 1 and (or) term 2 are somewhere in the whole line.
enum class MatchRule { kPostcode, kWords, kAnd, kOr };

class CodeNames;

// One search: the rule and its terms, the data's CP949 bytes. Terms longer than
// kTermMaxBytes are cut. `names` (may be null) lets the words of a five-digit
// search be English names or a 행정동.
struct SearchRequest {
  MatchRule rule = MatchRule::kWords;
  Cp949View term1;
  Cp949View term2;
  const CodeNames* names = nullptr;
  // The caller knows, from a sign the data set carries, that the file's lines
  // are in byte order (whole lines compared, without their line ends). A code
  // search of a file in memory then looks the code up instead of reading every
  // line; the lines found are the same. Never set it on a guess.
  bool sorted = false;
  // The caller knows, from the same sign, that every line is a five-digit
  // line: a name search then looks for no needle of the old lines' rule.
  bool five_digit_only = false;
};

// Calls `f` with each word of a five-digit line's address, split at spaces,
// brackets and commas: road, number, names in brackets, lot forms. No trail
// byte of a two-byte character is one of those (they are 0x41 and up), so the
// split needs no walk of the characters.
template <class F>
void ForEachAddressWord(std::string_view line, F f) {
  std::size_t start = 6;
  for (std::size_t i = 6; i <= line.size(); ++i) {
    if (i < line.size()) {
      const char c = line[i];
      if (c != ' ' && c != '(' && c != ')' && c != ',') continue;
    }
    if (i > start && !f(line.substr(start, i - start))) return;
    start = i + 1;
  }
}

// The first 64 of those words.
struct AddressWords {
  explicit AddressWords(std::string_view line);
  std::array<std::string_view, 64> at;
  std::size_t count = 0;
};

// A request compiled once per search: the rule, the cut terms, the codes of
// both line forms and the words of term 1. Holds no pointers into the request.
class LineMatcher {
 public:
  explicit LineMatcher(const SearchRequest& request);

  MatchRule rule() const { return rule_; }
  // The code that begins six-digit lines (123456 gives 123-456).
  std::string_view code() const { return {code_.data(), code_len_}; }
  // The digits that begin five-digit lines' codes (063-15 gives 06315); empty
  // when no five-digit code can begin with them.
  std::string_view digits() const { return {digits_.data(), digits_len_}; }
  std::string_view term1() const { return {term1_.data(), term1_len_}; }
  std::string_view term2() const { return {term2_.data(), term2_len_}; }
  std::size_t word_count() const { return word_count_; }
  std::string_view word(std::size_t i) const { return {term1_.data() + words_[i].first, words_[i].second}; }

  // True when no line can match (no code of either form, or no word at all).
  bool matches_nothing() const;
  // True when every line matches (composite rules with empty terms).
  bool matches_everything() const;
  // The rule applied to one line, given without its line feed.
  bool Matches(std::string_view line) const;
  // A matching five-digit line whose road address, lot address or building
  // name is what the words say, not only holds them: listed before the others.
  // Every other line is listed in file order, as if it were one. The
  // address's detail (TermGroup::detail) plays no part.
  bool IsBestMatch(std::string_view line) const;
  // A five-digit line that holds, as a whole word, a word of the address's
  // detail (a building's name among its unit and floor); false when the
  // search has none.
  bool HoldsDetail(std::string_view line) const;
  // Where a matching line is listed, from 0 (first): the best matches that
  // hold the detail, the best matches, the others that hold it, the rest;
  // each rank in file order.
  static constexpr std::size_t kRanks = 4;
  std::size_t Rank(std::string_view line) const;
  // The words of term 1 as read for five-digit lines.
  const std::vector<TermGroup>& groups() const { return groups_; }
  // The texts that every line the Words rule can match holds one of (letters'
  // case ignored where `fold_case`); empty when some line may match without
  // any (then every line is tested).
  struct Needle {
    std::string_view text;
    bool fold_case = false;
  };
  std::vector<Needle> WordNeedles() const;

 private:
  MatchRule rule_;
  std::array<char, kTermMaxBytes + 1> term1_{};
  std::array<char, kTermMaxBytes + 1> term2_{};
  std::size_t term1_len_ = 0;
  std::size_t term2_len_ = 0;
  std::array<char, kCodeMaxBytes + 1> code_{};
  std::size_t code_len_ = 0;
  std::array<char, kDigitsMaxBytes + 1> digits_{};
  std::size_t digits_len_ = 0;
  // (offset in term1_, length); term 1 holds at most 64 words.
  std::array<std::pair<unsigned char, unsigned char>, (kTermMaxBytes + 1) / 2> words_{};
  std::size_t word_count_ = 0;
  std::vector<TermGroup> groups_;
  bool five_digit_only_ = false;
};

// The normalised postal code built from the first 8 bytes of a term
// (123456 and 123-456 give 123-456, 1234 gives 123-4).
std::string_view NormalisePostcode(std::string_view term, std::array<char, kCodeMaxBytes + 1>& out);

// The ASCII digits among the first 8 bytes of a term, everything else skipped
// (063-15 and 063 15 give 06315), when there are 2 to 5 of them; otherwise
// empty, as no five-digit code begins with them.
std::string_view FiveDigitCodePrefix(std::string_view term, std::array<char, kDigitsMaxBytes + 1>& out);

// Finds `needle` in `line` at or after `from`, counting only places that begin
// on a CP949 character boundary (a byte 0x81-0xFE leads a two-byte character).
// An empty needle is found at `from`. Returns the offset or npos.
std::size_t FindOnCharBoundary(std::string_view line, std::string_view needle, std::size_t from = 0);

// The text without a last byte that leads a two-byte character whose second
// byte is missing (a broken data line). Handed to the Windows A functions, such
// a byte takes the terminating zero for its second half and the conversion
// reads on past the end of the string.
std::string_view WithoutHalfCharacterAtEnd(std::string_view text);

// A callable passed by reference, for the search's callbacks.
template <class Signature>
class FunctionRef;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
 public:
  template <class F>
  requires(!std::is_same_v<std::remove_cv_t<F>, FunctionRef>) FunctionRef(F& f)
      : ctx_(&f), call_([](void* c, Args... args) -> R { return (*static_cast<F*>(c))(args...); }) {}
  R operator()(Args... args) const { return call_(ctx_, args...); }

 private:
  void* ctx_;
  R (*call_)(void*, Args...);
};

// Where a line of a search's result lies in the file (or stream) searched:
// its first byte, counted from where the search began. The line's own bytes
// are there, as many as the line the sink got.
using LineOffset = std::uint64_t;

// Receives each matching line, without its line ending, in file order, and
// where it wants it, the line's offset. A sink that returns false stops the
// search; one that returns nothing never does.
class LineSink {
 public:
  template <class F>
  requires(!std::is_same_v<std::remove_cv_t<F>, LineSink>) LineSink(F& f)
      : ctx_(&f), call_([](void* c, std::string_view line, LineOffset offset) -> bool {
          F& sink = *static_cast<F*>(c);
          if constexpr (std::is_invocable_v<F&, std::string_view, LineOffset>) {
            if constexpr (std::is_void_v<std::invoke_result_t<F&, std::string_view, LineOffset>>) {
              sink(line, offset);
              return true;
            } else {
              return sink(line, offset);
            }
          } else if constexpr (std::is_void_v<std::invoke_result_t<F&, std::string_view>>) {
            sink(line);
            return true;
          } else {
            return sink(line);
          }
        }) {}
  bool operator()(std::string_view line, LineOffset offset = 0) const { return call_(ctx_, line, offset); }

 private:
  void* ctx_;
  bool (*call_)(void*, std::string_view, LineOffset);
};

// Called between the blocks the reader takes from a stream, and every 256 KiB
// of a file in memory; false stops the search.
using BlockHook = FunctionRef<bool()>;

enum class SearchStatus { kOk, kOpenFailed, kReadFailed };

struct SearchOutcome {
  SearchStatus status = SearchStatus::kOk;
  std::size_t matches = 0;
  int error = 0;         // errno of a failed open or read
  bool stopped = false;  // a sink or a hook ended the search before the end of the file
};

// Reads the whole file once and calls `sink` for every line that matches.
// A file that cannot be opened is reported and never read.
SearchOutcome SearchFile(const char* path, const SearchRequest& request, LineSink sink,
                         const BlockHook* between_blocks = nullptr);
// The same over a file opened already (mapped when it could be); the search
// takes its mapping or reads its stream, whichever serves the request better.
// A MappedFile serves one search.
SearchOutcome SearchFile(MappedFile& file, const SearchRequest& request, LineSink sink,
                         const BlockHook* between_blocks = nullptr);
// The same over an open stream, read from its current position to its end;
// `between_blocks` runs after each block read.
SearchOutcome SearchStream(std::FILE* stream, const SearchRequest& request, LineSink sink,
                           const BlockHook* between_blocks = nullptr);
// The same over a whole file's bytes in memory (a mapped file).
SearchOutcome SearchBytes(std::string_view bytes, const SearchRequest& request, LineSink sink,
                          const BlockHook* between_blocks = nullptr);

}  // namespace marlix
