#include "postcode_search.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "byte_finder.h"
#include "folded_finder.h"
#include "line_form.h"

namespace marlix {

namespace {

bool IsCodeByte(char c) { return IsAsciiDigit(c) || c == '-'; }
// FindOnCharBoundary with ASCII letters' case ignored: an English name as typed.
std::size_t FindFoldedOnCharBoundary(std::string_view line, std::string_view needle, std::size_t from) {
  std::size_t walk = CharacterStart(line, from);
  if (walk < from) walk += CharacterBytes(line[walk]);  // `from` is a second byte
  for (; walk + needle.size() <= line.size(); walk += CharacterBytes(line[walk])) {
    if (EqualsIgnoringAsciiCase(line.substr(walk, needle.size()), needle)) return walk;
  }
  return std::string_view::npos;
}

std::uint32_t FiveDigitCodeOf(std::string_view line) {
  std::uint32_t code = 0;
  for (char c : line.substr(0, 5)) code = code * 10 + static_cast<std::uint32_t>(c - '0');
  return code;
}

bool HasCode(const TermGroup& group, std::uint32_t code) {
  return std::find(group.codes.begin(), group.codes.end(), code) != group.codes.end();
}

bool GroupFound(const TermGroup& group, std::string_view line, std::size_t address, std::uint32_t code) {
  if (HasCode(group, code)) return true;
  return std::any_of(group.texts.begin(), group.texts.end(), [&](const std::string& text) {
    return (group.fold_case ? FindFoldedOnCharBoundary(line, text, address)
                            : FindOnCharBoundary(line, text, address)) != std::string_view::npos;
  });
}

bool GroupIs(const TermGroup& group, std::string_view token) {
  return std::any_of(group.texts.begin(), group.texts.end(), [&](const std::string& text) {
    return group.fold_case ? EqualsIgnoringAsciiCase(text, token) : text == token;
  });
}

std::size_t CutInto(std::string_view text, std::size_t limit, char* out) {
  std::size_t n = text.size() < limit ? text.size() : limit;
  if (n > 0) std::memcpy(out, text.data(), n);  // an empty view may have no data at all
  out[n] = '\0';
  return n;
}

}  // namespace

std::string_view NormalisePostcode(std::string_view term, std::array<char, kCodeMaxBytes + 1>& out) {
  std::size_t len = 0;
  const std::size_t walk = term.size() < 8 ? term.size() : 8;
  for (std::size_t i = 0; i < walk && len < kCodeMaxBytes; ++i) {
    const char c = term[i];
    if (!IsCodeByte(c)) continue;
    if (len == 3) {
      // The hyphen goes in after three bytes; a typed hyphen in the fourth
      // place of the term is then taken as that hyphen.
      out[len++] = '-';
      if (term[3] == '-') continue;
    }
    out[len++] = c;
  }
  out[len] = '\0';
  return {out.data(), len};
}

std::string_view FiveDigitCodePrefix(std::string_view term, std::array<char, kDigitsMaxBytes + 1>& out) {
  std::size_t len = 0;
  for (char c : term.substr(0, 8)) {
    if (!IsAsciiDigit(c)) continue;
    if (len == kDigitsMaxBytes) return {};  // six digits or more begin no five-digit code
    out[len++] = c;
  }
  if (len < 2) len = 0;
  out[len] = '\0';
  return {out.data(), len};
}

std::size_t FindOnCharBoundary(std::string_view line, std::string_view needle, std::size_t from) {
  if (from > line.size()) return std::string_view::npos;
  if (needle.empty()) return from;
  std::size_t walk = 0;  // the character boundary reached so far, from the line's start
  std::size_t pos = from;
  while (true) {
    const std::size_t hit = line.find(needle, pos);
    if (hit == std::string_view::npos) return hit;
    walk = CharacterStart(line, hit, walk);
    if (walk == hit) return hit;
    pos = hit + 1;
  }
}

std::string_view WithoutHalfCharacterAtEnd(std::string_view text) {
  if (text.empty()) return text;
  const std::size_t last = text.size() - 1;
  if (CharacterStart(text, last) == last && IsCp949LeadByte(text[last])) text.remove_suffix(1);
  return text;
}

LineMatcher::LineMatcher(const SearchRequest& request)
    : rule_(request.rule), five_digit_only_(request.five_digit_only) {
  term1_len_ = CutInto(request.term1.bytes(), kTermMaxBytes, term1_.data());
  term2_len_ = CutInto(request.term2.bytes(), kTermMaxBytes, term2_.data());

  if (rule_ == MatchRule::kPostcode) {
    code_len_ = NormalisePostcode(term1(), code_).size();
    digits_len_ = FiveDigitCodePrefix(term1(), digits_).size();
  }

  if (rule_ == MatchRule::kWords) {
    std::size_t i = 0;
    while (i < term1_len_) {
      while (i < term1_len_ && term1_[i] == ' ') ++i;
      const std::size_t start = i;
      while (i < term1_len_ && term1_[i] != ' ') ++i;
      if (i > start) {
        words_[word_count_++] = {static_cast<unsigned char>(start), static_cast<unsigned char>(i - start)};
      }
    }
    groups_ = ReadAddressTerms(term1(), request.names);
  }
}

bool LineMatcher::matches_nothing() const {
  switch (rule_) {
    case MatchRule::kPostcode:
      return code_len_ < 2 && digits_len_ == 0;
    case MatchRule::kWords:
      return word_count_ == 0;
    default:
      return false;
  }
}

bool LineMatcher::matches_everything() const {
  switch (rule_) {
    case MatchRule::kAnd:
      return term1_len_ == 0 && term2_len_ == 0;
    case MatchRule::kOr:
      return term1_len_ == 0 || term2_len_ == 0;
    default:
      return false;
  }
}

bool LineMatcher::Matches(std::string_view line) const {
  constexpr auto npos = std::string_view::npos;
  switch (rule_) {
    case MatchRule::kPostcode:
      // Each line form has its own code: a five-digit line is found by the
      // term's digits, any other line by the normalised six-digit code.
      if (IsFiveDigitLine(line)) return digits_len_ > 0 && line.starts_with(digits());
      return code_len_ >= 2 && line.starts_with(code());
    case MatchRule::kWords: {
      // The address begins after the code and its separator.
      const std::size_t address = FieldsOf(line).address_start;
      if (word_count_ == 0 || line.size() <= address) return false;
      if (IsFiveDigitLine(line)) {
        const std::uint32_t code = FiveDigitCodeOf(line);
        // The address's detail (a unit, a floor) excludes no line.
        return !groups_.empty() && std::all_of(groups_.begin(), groups_.end(), [&](const TermGroup& g) {
          return g.detail || GroupFound(g, line, address, code);
        });
      }
      for (std::size_t i = 0; i < word_count_; ++i) {
        if (FindOnCharBoundary(line, word(i), address) == npos) return false;
      }
      return true;
    }
    case MatchRule::kAnd:
      return FindOnCharBoundary(line, term1()) != npos && FindOnCharBoundary(line, term2()) != npos;
    case MatchRule::kOr:
      return FindOnCharBoundary(line, term1()) != npos || FindOnCharBoundary(line, term2()) != npos;
  }
  return false;
}

AddressWords::AddressWords(std::string_view line) {
  ForEachAddressWord(line, [this](std::string_view word) {
    at[count++] = word;
    return count < at.size();
  });
}

namespace {

// True when the line's words from `t` on are one of the group's texts whole:
// a text of two words (a two-word 시군구, 안양시 동안구) is two words of the line.
bool GroupIsAt(const TermGroup& group, const AddressWords& words, std::size_t t) {
  return std::any_of(group.texts.begin(), group.texts.end(), [&](const std::string& text) {
    std::string_view rest = text;
    for (std::size_t k = t;; ++k) {
      const std::size_t space = rest.find(' ');
      const std::string_view part = rest.substr(0, space);
      if (k >= words.count || !(group.fold_case ? EqualsIgnoringAsciiCase(part, words.at[k]) : part == words.at[k])) {
        return false;
      }
      if (space == std::string_view::npos) return true;
      rest.remove_prefix(space + 1);
    }
  });
}

}  // namespace

bool LineMatcher::IsBestMatch(std::string_view line) const {
  if (rule_ != MatchRule::kWords || !IsFiveDigitLine(line)) return true;
  const AddressWords tokens(line);
  const std::uint32_t code = FiveDigitCodeOf(line);
  auto is_word_of_search = [&](std::string_view token) {
    return std::any_of(groups_.begin(), groups_.end(),
                       [&](const TermGroup& g) { return !g.number && !g.detail && GroupIs(g, token); });
  };
  return std::all_of(groups_.begin(), groups_.end(), [&](const TermGroup& g) {
    if (g.detail || HasCode(g, code)) return true;
    for (std::size_t t = 0; t < tokens.count; ++t) {
      // A number is the road's or the lot's: 논현로8길 7 is not 개포동 7.
      if (GroupIsAt(g, tokens, t) && (!g.number || (t > 0 && is_word_of_search(tokens.at[t - 1])))) return true;
    }
    return false;
  });
}

bool LineMatcher::HoldsDetail(std::string_view line) const {
  if (rule_ != MatchRule::kWords || !IsFiveDigitLine(line)) return false;
  const AddressWords tokens(line);
  return std::any_of(groups_.begin(), groups_.end(), [&](const TermGroup& g) {
    return g.detail && std::any_of(tokens.at.begin(), tokens.at.begin() + static_cast<std::ptrdiff_t>(tokens.count),
                                   [&](std::string_view token) { return GroupIs(g, token); });
  });
}

std::size_t LineMatcher::Rank(std::string_view line) const {
  // Only an address with detail ranks by it: otherwise every line would wait
  // for the end of the file behind the first rank, which none would reach.
  const bool ranks_by_detail = rule_ == MatchRule::kWords &&
                               std::any_of(groups_.begin(), groups_.end(), [](const TermGroup& g) { return g.detail; });
  return (IsBestMatch(line) ? 0 : 2) + (ranks_by_detail && !HoldsDetail(line) ? 1 : 0);
}

std::vector<LineMatcher::Needle> LineMatcher::WordNeedles() const {
  // Five-digit lines: the texts of one group, each of them needed; the group
  // whose shortest text is longest, as long needles are rare.
  const TermGroup* best = nullptr;
  auto shortest = [](const TermGroup& g) {
    std::size_t n = g.texts.front().size();
    for (const std::string& t : g.texts) n = std::min(n, t.size());
    return n;
  };
  // Exact texts before case-folded ones, which cost more to look for.
  auto better = [&](const TermGroup& g) {
    if (best == nullptr || best->fold_case != g.fold_case) return best == nullptr || !g.fold_case;
    return shortest(g) * best->texts.size() > shortest(*best) * g.texts.size();
  };
  for (const TermGroup& g : groups_) {
    if (!g.detail && g.codes.empty() && !g.texts.empty() && better(g)) best = &g;
  }
  if (best == nullptr) return {};
  std::vector<Needle> needles;
  for (const std::string& t : best->texts) {
    // A text that holds another is found through it.
    const bool covered = std::any_of(best->texts.begin(), best->texts.end(), [&](const std::string& other) {
      return other.size() < t.size() && t.find(other) != std::string::npos;
    });
    if (!covered && std::none_of(needles.begin(), needles.end(), [&](const Needle& n) { return n.text == t; })) {
      needles.push_back({t, best->fold_case});
    }
  }
  // Other lines need every word as typed: one of the needles inside a word
  // does, else the longest word; a file of five-digit lines has none.
  if (five_digit_only_) return needles;
  std::string_view longest;
  for (std::size_t i = 0; i < word_count_; ++i) {
    const std::string_view w = word(i);
    if (std::any_of(needles.begin(), needles.end(), [&](const Needle& n) { return w.find(n.text) != w.npos; })) {
      return needles;
    }
    if (w.size() > longest.size()) longest = w;
  }
  if (!longest.empty()) needles.push_back({longest, false});
  return needles;
}

namespace {

// A line as the list and the clipboard see it: without its line feed or the
// CR before it, ending at a NUL byte, and at most kLineMaxBytes long.
std::string_view LineText(const char* begin, const char* end, bool had_line_feed) {
  if (had_line_feed && end > begin && end[-1] == '\r') --end;
  std::size_t len = static_cast<std::size_t>(end - begin);
  if (const void* nul = std::memchr(begin, '\0', len)) len = static_cast<const char*>(nul) - begin;
  if (len > kLineMaxBytes) len = kLineMaxBytes;
  return {begin, len};
}

const char* FindLineFeed(const char* p, const char* end) {
  const void* hit = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
  return hit ? static_cast<const char*>(hit) : end;
}

const char* FindLineStart(const char* region, const char* p) {
  while (p > region && p[-1] != '\n') --p;
  return p;
}

// Scans a block of whole lines. Rather than testing each line, it looks for
// the rule's needle across the whole block and tests only the lines that hold
// a hit; every line that can match contains one. A code is looked for with the
// line feed before it, so that only line starts are hits.
class BlockScanner {
 public:
  BlockScanner(const LineMatcher& matcher, LineSink sink) : matcher_(matcher), sink_(sink) {
    switch (matcher.rule()) {
      case MatchRule::kPostcode: {
        anchored_ = true;
        std::string_view code = matcher.code().size() >= 2 ? matcher.code() : std::string_view();
        std::string_view digits = matcher.digits();
        // The codes of the two forms mostly share their first digits (135-08
        // and 13508): one pass for what they share beats a pass for each.
        std::size_t shared = 0;
        while (shared < code.size() && shared < digits.size() && code[shared] == digits[shared]) ++shared;
        if (shared >= 2) code = digits = code.substr(0, shared);
        if (!code.empty()) AddAnchoredNeedle(code, 0);
        if (!digits.empty() && digits != code) AddAnchoredNeedle(digits, 1);
        break;
      }
      case MatchRule::kWords: {
        const std::vector<LineMatcher::Needle> needles = matcher.WordNeedles();
        // Without needles (a 행정동 or a code alone, too many spellings) every line is tested.
        every_line_ = needles.empty() || needles.size() > kMaxNeedles;
        if (!every_line_) {
          for (const LineMatcher::Needle& n : needles) {
            folded_[needle_count_] = n.fold_case;
            needles_[needle_count_++] = n.text;
          }
        }
        break;
      }
      case MatchRule::kAnd:
        needles_[needle_count_++] =
            matcher.term1().size() >= matcher.term2().size() ? matcher.term1() : matcher.term2();
        break;
      case MatchRule::kOr:
        needles_[needle_count_++] = matcher.term1();
        needles_[needle_count_++] = matcher.term2();
        break;
    }
    for (std::size_t i = 0; i < needle_count_; ++i)
      finders_.push_back({ByteFinder(needles_[i]), FoldedFinder(needles_[i]), folded_[i]});
  }

  std::size_t matches() const { return matches_; }
  bool stopped() const { return stopped_; }
  // The bytes from `base` on lie at `offset` of the file: each line is told
  // its offset from there.
  void SetOrigin(const char* base, LineOffset offset) {
    base_ = base;
    base_offset_ = offset;
  }

  // [begin, end) holds whole lines, each ending in a line feed except perhaps
  // the last one at the end of the file.
  void Scan(const char* begin, const char* end) {
    if (begin == end || stopped_ || matcher_.matches_nothing()) return;
    if (matcher_.matches_everything()) return EveryLine(begin, end);
    if (every_line_) return TestEveryLine(begin, end);

    std::array<const char*, kMaxNeedles> next{};
    const char* cursor = begin;
    if (anchored_) {
      // The block's first line has no line feed before it here.
      const char* lf = FindLineFeed(begin, end);
      Offer(begin, lf, lf != end);
      cursor = lf;
    }
    while (cursor < end && !stopped_) {
      const char* hit = end;
      for (std::size_t i = 0; i < needle_count_; ++i) {
        if (next[i] == nullptr || next[i] < cursor) next[i] = finders_[i].Find(cursor, end);
        if (next[i] < hit) hit = next[i];
      }
      if (hit == end) return;
      const char* line_begin = anchored_ ? hit + 1 : FindLineStart(cursor, hit);
      const char* line_end = FindLineFeed(anchored_ ? line_begin : hit, end);
      Offer(line_begin, line_end, line_end != end);
      // An anchored needle begins with the line feed that ends this line.
      cursor = anchored_ ? line_end : line_end + 1;
    }
  }

  // One line given apart from any block (the head of an overlong line).
  void Offer(const char* begin, const char* end, bool had_line_feed) {
    const std::string_view line = LineText(begin, end, had_line_feed);
    if (matcher_.Matches(line)) Emit(line);
  }

 private:
  void AddAnchoredNeedle(std::string_view code, std::size_t slot) {
    char* text = anchored_text_[slot].data();
    text[0] = '\n';
    std::memcpy(text + 1, code.data(), code.size());
    needles_[needle_count_++] = {text, code.size() + 1};
  }

  void TestEveryLine(const char* p, const char* end) {
    while (p < end && !stopped_) {
      const char* lf = FindLineFeed(p, end);
      Offer(p, lf, lf != end);
      p = lf + 1;
    }
  }

  void EveryLine(const char* p, const char* end) {
    while (p < end && !stopped_) {
      const char* lf = FindLineFeed(p, end);
      Emit(LineText(p, lf, lf != end));
      p = lf + 1;
    }
  }

  void Emit(std::string_view line) {
    ++matches_;
    if (!sink_(line, base_offset_ + static_cast<LineOffset>(line.data() - base_))) stopped_ = true;
  }

  const LineMatcher& matcher_;
  LineSink sink_;
  static constexpr std::size_t kMaxNeedles = 4;
  std::string_view needles_[kMaxNeedles];
  std::size_t needle_count_ = 0;
  struct Finder {
    ByteFinder exact;
    FoldedFinder folded;
    bool fold_case;
    const char* Find(const char* begin, const char* end) const {
      return fold_case ? folded.Find(begin, end) : exact.Find(begin, end);
    }
  };
  std::array<bool, kMaxNeedles> folded_{};
  std::vector<Finder> finders_;
  bool every_line_ = false;
  bool anchored_ = false;
  std::array<std::array<char, kCodeMaxBytes + 1>, 2> anchored_text_{};
  std::size_t matches_ = 0;
  bool stopped_ = false;
  const char* base_ = nullptr;
  LineOffset base_offset_ = 0;
};

// Hands the lines of the first rank on at once and keeps the others, copied,
// until the end of the file: the list then shows what the words name before
// what only holds them, each rank in file order.
class BestFirst {
 public:
  BestFirst(const LineMatcher& matcher, LineSink sink) : matcher_(matcher), sink_(sink) {}

  bool operator()(std::string_view line, LineOffset offset) {
    const std::size_t rank = matcher_.Rank(line);
    if (rank == 0) return sink_(line, offset);
    Held& held = held_[rank - 1];
    held.lines.push_back({held.text.size(), line.size(), offset});
    held.text.append(line);
    return true;
  }

  // False when the sink stopped the search.
  bool Finish() {
    for (const Held& held : held_) {
      for (const HeldLine& line : held.lines) {
        if (!sink_(std::string_view(held.text).substr(line.at, line.size), line.offset)) return false;
      }
    }
    return true;
  }

 private:
  struct HeldLine {
    std::size_t at, size;
    LineOffset offset;
  };
  struct Held {
    std::string text;
    std::vector<HeldLine> lines;
  };
  const LineMatcher& matcher_;
  LineSink sink_;
  std::array<Held, LineMatcher::kRanks - 1> held_;
};

const char* FindLastLineFeed(const char* begin, const char* end) {
  for (const char* p = end; p > begin; --p) {
    if (p[-1] == '\n') return p - 1;
  }
  return nullptr;
}

}  // namespace

SearchOutcome SearchStream(std::FILE* stream, const SearchRequest& request, LineSink sink,
                           const BlockHook* between_blocks) {
  const LineMatcher matcher(request);
  BestFirst best_first(matcher, sink);
  BlockScanner scanner(matcher, LineSink(best_first));

  // One buffer for the whole search: a block to read into, plus room for the
  // unfinished line carried over from the block before.
  constexpr std::size_t kBlockBytes = 256 * 1024;
  constexpr std::size_t kCapacity = kLineMaxBytes + 2 + kBlockBytes;
  const std::unique_ptr<char[]> buffer(new char[kCapacity]);
  char* const buf = buffer.get();

  std::size_t have = 0;
  LineOffset buffer_offset = 0;  // of buf[0] in the stream
  scanner.SetOrigin(buf, 0);
  bool skipping = false;  // dropping the tail of an overlong line up to its line feed
  SearchOutcome outcome;
  while (!scanner.stopped()) {
    if (between_blocks != nullptr && !(*between_blocks)()) {
      outcome.stopped = true;
      break;
    }
    const std::size_t got = std::fread(buf + have, 1, kCapacity - have, stream);
    if (got == 0) {
      if (std::ferror(stream)) {
        outcome.status = SearchStatus::kReadFailed;
        outcome.error = errno;
        break;
      }
      if (!skipping) scanner.Scan(buf, buf + have);  // the last line, if it had no line feed
      break;
    }
    std::size_t start = 0;
    have += got;
    if (skipping) {
      const char* lf = FindLineFeed(buf, buf + have);
      if (lf == buf + have) {
        buffer_offset += have;
        scanner.SetOrigin(buf, buffer_offset);
        have = 0;
        continue;
      }
      skipping = false;
      start = static_cast<std::size_t>(lf + 1 - buf);
    }
    const char* last_lf = FindLastLineFeed(buf + start, buf + have);
    if (last_lf != nullptr) {
      scanner.Scan(buf + start, last_lf + 1);
      start = static_cast<std::size_t>(last_lf + 1 - buf);
    } else if (have - start > kLineMaxBytes + 1) {
      // No line feed in sight: the line is longer than any line we keep. Its
      // head is the line; the rest is dropped up to the next line feed.
      scanner.Offer(buf + start, buf + start + kLineMaxBytes, false);
      skipping = true;
      start = have;
    }
    std::memmove(buf, buf + start, have - start);
    have -= start;
    buffer_offset += start;
    scanner.SetOrigin(buf, buffer_offset);
  }
  outcome.matches = scanner.matches();
  outcome.stopped = outcome.stopped || scanner.stopped();
  if (!outcome.stopped && outcome.status == SearchStatus::kOk && !best_first.Finish()) outcome.stopped = true;
  return outcome;
}

namespace {

// Scans whole lines held in memory in steps of about 256 KiB, each ended at a
// line feed, with the hook between steps. False when the hook stopped it.
bool ScanInSteps(BlockScanner& scanner, const char* begin, const char* end, const BlockHook* between_blocks) {
  constexpr std::size_t kStepBytes = 256 * 1024;
  while (begin < end && !scanner.stopped()) {
    if (between_blocks != nullptr && !(*between_blocks)()) return false;
    const char* step_end = end;
    if (static_cast<std::size_t>(end - begin) > kStepBytes) {
      step_end = FindLineFeed(begin + kStepBytes, end);
      if (step_end != end) ++step_end;
    }
    scanner.Scan(begin, step_end);
    begin = step_end;
  }
  return true;
}

// The lines of a file in byte order that begin with a key lie together: found
// by halving, never by reading the lines between.
class SortedLines {
 public:
  explicit SortedLines(std::string_view bytes) : bytes_(bytes) {}

  // [first, last) offsets of the lines that begin with `key` (whole lines).
  std::pair<std::size_t, std::size_t> Beginning(std::string_view key) const {
    const std::size_t first = FirstNotBefore([&](std::size_t line) { return ComparedTo(line, key) < 0; });
    const std::size_t last = FirstNotBefore([&](std::size_t line) { return ComparedTo(line, key) <= 0; });
    return {first, last < first ? first : last};
  }

 private:
  // The start of the first line that begins at or after `at`, or the end.
  std::size_t LineStartFrom(std::size_t at) const {
    if (at == 0 || bytes_[at - 1] == '\n') return at;
    return NextLine(at);
  }
  // The start of the line after the one that holds `at`, or the end.
  std::size_t NextLine(std::size_t at) const {
    const void* lf = std::memchr(bytes_.data() + at, '\n', bytes_.size() - at);
    return lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - bytes_.data()) + 1 : bytes_.size();
  }
  // The line at `line` against `key`, over the key's length only: below zero
  // when the line sorts before every line that begins with the key, zero when
  // it begins with the key.
  int ComparedTo(std::size_t line, std::string_view key) const {
    std::size_t n = bytes_.size() - line < key.size() ? bytes_.size() - line : key.size();
    if (const void* lf = std::memchr(bytes_.data() + line, '\n', n)) {
      n = static_cast<std::size_t>(static_cast<const char*>(lf) - (bytes_.data() + line));
    }
    const int order = std::memcmp(bytes_.data() + line, key.data(), n);
    if (order != 0) return order;
    return n < key.size() ? -1 : 0;
  }
  // The first line for which `before` is false, `before` being true for a
  // leading run of the lines and false for the rest.
  template <class Before>
  std::size_t FirstNotBefore(Before before) const {
    std::size_t lo = 0;              // lines before lo are before
    std::size_t hi = bytes_.size();  // lines from hi on are not
    while (lo < hi) {
      std::size_t line = LineStartFrom(lo + (hi - lo) / 2);
      if (line >= hi) line = lo;  // no line starts in the upper half: try the first one
      if (before(line)) {
        lo = NextLine(line);
      } else {
        hi = line;
      }
    }
    return lo;
  }

  std::string_view bytes_;
};

// The parts of a sorted file that hold every line a code search can match, in
// file order: the lines that begin with either form's code.
std::size_t CodeRanges(std::string_view bytes, const LineMatcher& matcher,
                       std::array<std::pair<std::size_t, std::size_t>, 2>& ranges) {
  std::string_view keys[2] = {matcher.code().size() >= 2 ? matcher.code() : std::string_view(), matcher.digits()};
  // A key that begins with the other finds lines within the other's.
  if (!keys[0].empty() && keys[1].starts_with(keys[0])) keys[1] = {};
  if (!keys[1].empty() && keys[0].starts_with(keys[1])) keys[0] = {};
  const SortedLines lines(bytes);
  std::size_t count = 0;
  for (std::string_view key : keys) {
    if (!key.empty()) ranges[count++] = lines.Beginning(key);
  }
  if (count == 2 && ranges[1].first < ranges[0].first) std::swap(ranges[0], ranges[1]);
  return count;
}

}  // namespace

SearchOutcome SearchBytes(std::string_view bytes, const SearchRequest& request, LineSink sink,
                          const BlockHook* between_blocks) {
  const LineMatcher matcher(request);
  BestFirst best_first(matcher, sink);
  BlockScanner scanner(matcher, LineSink(best_first));
  const char* const data = bytes.data();
  scanner.SetOrigin(data, 0);
  // Every line is whole in memory; an overlong one is cut where its text is taken.
  bool finished = true;
  if (request.sorted && matcher.rule() == MatchRule::kPostcode) {
    std::array<std::pair<std::size_t, std::size_t>, 2> ranges{};
    const std::size_t count = CodeRanges(bytes, matcher, ranges);
    for (std::size_t i = 0; i < count && finished; ++i) {
      finished = ScanInSteps(scanner, data + ranges[i].first, data + ranges[i].second, between_blocks);
    }
  } else {
    finished = ScanInSteps(scanner, data, data + bytes.size(), between_blocks);
  }
  SearchOutcome outcome;
  outcome.matches = scanner.matches();
  outcome.stopped = !finished || scanner.stopped() || !best_first.Finish();
  return outcome;
}

SearchOutcome SearchFile(MappedFile& file, const SearchRequest& request, LineSink sink,
                         const BlockHook* between_blocks) {
  if (file.open_error() != 0) return {SearchStatus::kOpenFailed, 0, file.open_error()};
  // Reading in blocks beats walking a mapping of the whole file where it was
  // measured (page-cache copies cost less than the page walks of a mapping),
  // but a lookup in a sorted file touches only a few pages of it.
  const bool lookup = request.sorted && request.rule == MatchRule::kPostcode;
  if (file.mapped() && lookup) return SearchBytes(file.bytes(), request, sink, between_blocks);
  const FileStream stream = file.TakeStream();
  if (!stream) return {SearchStatus::kReadFailed, 0, errno != 0 ? errno : EIO};
  return SearchStream(stream.get(), request, sink, between_blocks);
}

SearchOutcome SearchFile(const char* path, const SearchRequest& request, LineSink sink,
                         const BlockHook* between_blocks) {
  MappedFile file(path);
  return SearchFile(file, request, sink, between_blocks);
}

}  // namespace marlix
