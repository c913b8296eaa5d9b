// The postcode search over the data file: the normalised code, the four
// matching rules and the line reader. Portable; the window and the CLI call it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string_view>
#include <type_traits>

namespace marlix {

// Limits of the search's working storage, in bytes without the terminating zero.
inline constexpr std::size_t kTermMaxBytes = 127;
inline constexpr std::size_t kKindMaxBytes = 11;
inline constexpr std::size_t kCodeMaxBytes = 7;
// A line longer than this stays one line; only its first kLineMaxBytes take part.
inline constexpr std::size_t kLineMaxBytes = 64 * 1024;

// The combo texts that select a rule, as CP949 bytes whatever the compiler's
// execution character set: "우편번호" and "동명/건물명".
inline constexpr std::string_view kKindPostcode = "\xBF\xEC\xC6\xED\xB9\xF8\xC8\xA3";
inline constexpr std::string_view kKindName = "\xB5\xBF\xB8\xED/\xB0\xC7\xB9\xB0\xB8\xED";
inline constexpr std::string_view kOperatorAnd = "AND";
inline constexpr std::string_view kOperatorOr = "OR";

// What the window hands over: the selected tab, the combo text and both terms,
// all as CP949 bytes. Longer texts are cut to the limits above.
struct SearchRequest {
  int tab = 0;
  std::string_view kind;
  std::string_view term1;
  std::string_view term2;
};

enum class MatchRule { Postcode, Words, And, Or };

// A request compiled once per search: the rule, the cut terms, the normalised
// code and the words of term 1. Holds no pointers into the request.
class LineMatcher {
 public:
  explicit LineMatcher(const SearchRequest& request);

  MatchRule rule() const { return rule_; }
  std::string_view code() const { return {code_.data(), code_len_}; }
  std::string_view term1() const { return {term1_.data(), term1_len_}; }
  std::string_view term2() const { return {term2_.data(), term2_len_}; }
  std::size_t word_count() const { return word_count_; }
  std::string_view word(std::size_t i) const {
    return {term1_.data() + words_[i].first, words_[i].second};
  }

  // True when no line can match (a code under 2 bytes, or no word at all).
  bool matches_nothing() const;
  // True when every line matches (composite rules with empty terms).
  bool matches_everything() const;
  // The rule applied to one line, given without its line feed.
  bool Matches(std::string_view line) const;

 private:
  MatchRule rule_;
  std::array<char, kTermMaxBytes + 1> term1_{};
  std::array<char, kTermMaxBytes + 1> term2_{};
  std::size_t term1_len_ = 0;
  std::size_t term2_len_ = 0;
  std::array<char, kCodeMaxBytes + 1> code_{};
  std::size_t code_len_ = 0;
  // (offset in term1_, length); term 1 holds at most 64 words.
  std::array<std::pair<unsigned char, unsigned char>, (kTermMaxBytes + 1) / 2> words_{};
  std::size_t word_count_ = 0;
};

// The normalised postal code built from the first 8 bytes of a term
// (123456 and 123-456 give 123-456, 1234 gives 123-4).
std::string_view NormalisePostcode(std::string_view term, std::array<char, kCodeMaxBytes + 1>& out);

// Finds `needle` in `line` at or after `from`, counting only places that begin
// on a CP949 character boundary (a byte 0x81-0xFE leads a two-byte character).
// An empty needle is found at `from`. Returns the offset or npos.
std::size_t FindOnCharBoundary(std::string_view line, std::string_view needle, std::size_t from = 0);

// The text without a last byte that leads a two-byte character whose second
// byte is missing (a broken data line). Handed to the Windows A functions, such
// a byte takes the terminating zero for its second half and the conversion
// reads on past the end of the string.
std::string_view WithoutHalfCharacterAtEnd(std::string_view text);

// Receives each matching line, without its line ending, in file order.
class LineSink {
 public:
  template <class F>
    requires(!std::is_same_v<std::remove_cv_t<F>, LineSink>)
  LineSink(F& f) : ctx_(&f), call_([](void* c, std::string_view l) { (*static_cast<F*>(c))(l); }) {}
  void operator()(std::string_view line) const { call_(ctx_, line); }

 private:
  void* ctx_;
  void (*call_)(void*, std::string_view);
};

enum class SearchStatus { Ok, OpenFailed, ReadFailed };

struct SearchOutcome {
  SearchStatus status = SearchStatus::Ok;
  std::size_t matches = 0;
  int error = 0;  // errno of a failed open or read
};

// Reads the whole file once and calls `sink` for every line that matches.
// A file that cannot be opened is reported and never read.
SearchOutcome SearchFile(const char* path, const SearchRequest& request, LineSink sink);
// The same over an open stream, read from its current position to its end.
SearchOutcome SearchStream(std::FILE* stream, const SearchRequest& request, LineSink sink);

}  // namespace marlix
