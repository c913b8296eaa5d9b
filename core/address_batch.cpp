#include "address_batch.h"

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "building_number.h"
#include "code_names.h"
#include "copy_cut.h"
#include "line_form.h"
#include "mapped_file.h"
#include "opened_data.h"
#include "text.h"

namespace marlix {

namespace {

// What a key is of: the kinds never meet, whatever their words.
enum class KeyKind : std::uint64_t { kPair = 1, kWord = 2, kCode = 3, kOldWord = 4 };

// A word's hash, eight bytes a step. Keys of words fold ASCII letters' case
// first (English building names match so); a road is Korean and a number
// digits, so pairs are hashed as they are.
std::uint64_t Mix(std::uint64_t h, std::uint64_t v) {
  h = (h ^ v) * 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

std::uint64_t BytesHash(std::string_view bytes, std::uint64_t h) {
  h = Mix(h, bytes.size());
  const char* p = bytes.data();
  std::size_t n = bytes.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    h = Mix(h, v);
  }
  std::uint64_t v = 0;
  if (n > 0) std::memcpy(&v, p, n);
  return Mix(h, v);
}

std::uint64_t Key(KeyKind kind, std::string_view word, std::string_view number = {}) {
  const std::uint64_t h = BytesHash(word, static_cast<std::uint64_t>(kind));
  return number.empty() ? h : BytesHash(number, h);
}

std::uint64_t FoldedKey(KeyKind kind, std::string_view word) {
  char folded[256];  // a longer word is keyed by its head, on both sides alike
  const std::size_t n = std::min(word.size(), sizeof folded);
  for (std::size_t i = 0; i < n; ++i) {
    const char c = word[i];
    folded[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c;
  }
  return Key(kind, std::string_view(folded, n));
}

std::uint64_t CodeKey(std::uint32_t code) { return Mix(static_cast<std::uint64_t>(KeyKind::kCode), code); }

std::uint32_t CodeOfLine(std::string_view line) {
  std::uint32_t code = 0;
  if (IsFiveDigitLine(line)) {
    for (const char c : line.substr(0, 5)) code = code * 10 + static_cast<std::uint32_t>(c - '0');
    return code;
  }
  // An old code, kept apart from every five-digit one.
  for (const char c : line.substr(0, 7)) {
    if (IsAsciiDigit(c)) code = code * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return code + 100000;
}

// The old lines' words: split at spaces, from the address on.
template <class F>
void ForEachOldWord(std::string_view line, F f) {
  std::size_t at = FieldsOf(line).address_start;
  while (at < line.size()) {
    const std::size_t space = std::min(line.find(' ', at), line.size());
    if (space > at) f(line.substr(at, space - at));
    at = space + 1;
  }
}

// The rows each key names, and a filter of the keys' bits that most lines'
// words miss without a lookup.
class KeyIndex {
 public:
  using Entry = std::pair<std::uint64_t, std::uint32_t>;
  void Add(std::uint64_t key, std::uint32_t row) { keys_.push_back({key, row}); }

  void Build() {
    std::sort(keys_.begin(), keys_.end());
    keys_.erase(std::unique(keys_.begin(), keys_.end()), keys_.end());
    keys_.shrink_to_fit();
    // About 16 bits a key, so that few words pass for nothing, and a filter
    // small enough to stay in the processor's cache.
    filter_bits_ = 12;
    while (filter_bits_ < 24 && (std::size_t{1} << filter_bits_) < keys_.size() * 16) ++filter_bits_;
    filter_.assign(std::size_t{1} << (filter_bits_ - 6), 0);
    for (const auto& [key, row] : keys_) {
      const std::uint64_t bit = key & ((std::uint64_t{1} << filter_bits_) - 1);
      filter_[bit >> 6] |= std::uint64_t{1} << (bit & 63);
    }
  }

  // The (key, row) entries of `key`, as [begin, end).
  std::pair<const Entry*, const Entry*> Find(std::uint64_t key) const {
    const std::uint64_t bit = key & ((std::uint64_t{1} << filter_bits_) - 1);
    if ((filter_[bit >> 6] & (std::uint64_t{1} << (bit & 63))) == 0) return {nullptr, nullptr};
    const auto first = std::lower_bound(keys_.begin(), keys_.end(), Entry{key, 0});
    auto last = first;
    while (last != keys_.end() && last->first == key) ++last;
    return {keys_.data() + (first - keys_.begin()), keys_.data() + (last - keys_.begin())};
  }

 private:
  unsigned filter_bits_ = 12;
  std::vector<Entry> keys_;
  std::vector<std::uint64_t> filter_;
};

// The keys under which a line that an address names exactly must be found:
// a line is that address's best match only when it holds each word whole and
// its number right after one of the words (IsBestMatch), so the pair of that
// word and the number is in the line. Without a number, one word's texts or
// codes; for the old lines, the longest word as typed.
struct KeyUse {
  bool words = false, codes = false, old_words = false;
  // The (length, first byte) of each word key, so that most of a line's
  // words are passed over before they are hashed.
  std::bitset<64 * 256> word_shapes;
  static std::size_t Shape(std::string_view word) {
    return std::min<std::size_t>(word.size(), 63) * 256 + static_cast<unsigned char>(AsciiLower(word[0]));
  }
};

void AddKeys(const LineMatcher& matcher, std::uint32_t row, bool old_lines, KeyIndex& index, KeyUse& use) {
  std::vector<const TermGroup*> numbers, words;
  for (const TermGroup& g : matcher.groups()) {
    if (g.detail) continue;
    (g.number ? numbers : words).push_back(&g);
  }
  if (!numbers.empty()) {
    for (const TermGroup* w : words) {
      for (const std::string& text : w->texts) {
        for (const TermGroup* n : numbers) index.Add(Key(KeyKind::kPair, text, n->texts.front()), row);
      }
    }
  } else if (!words.empty()) {
    // The word most telling: one that only its text satisfies, with the
    // fewest and longest texts.
    auto score = [](const TermGroup* g) {
      std::size_t shortest = g->texts.front().size();
      for (const std::string& t : g->texts) shortest = std::min(shortest, t.size());
      return std::make_tuple(g->codes.empty(), -static_cast<long>(g->texts.size()), shortest);
    };
    const TermGroup* anchor = *std::max_element(
        words.begin(), words.end(), [&](const TermGroup* a, const TermGroup* b) { return score(a) < score(b); });
    for (const std::string& text : anchor->texts) {
      if (text.empty()) continue;
      index.Add(FoldedKey(KeyKind::kWord, text), row);
      use.word_shapes.set(KeyUse::Shape(text));
    }
    for (const std::uint32_t code : anchor->codes) index.Add(CodeKey(code), row);
    use.words = true;
    use.codes = use.codes || !anchor->codes.empty();
  }
  if (old_lines && matcher.word_count() > 0) {
    std::string_view longest;
    for (std::size_t i = 0; i < matcher.word_count(); ++i) {
      if (matcher.word(i).size() > longest.size()) longest = matcher.word(i);
    }
    index.Add(Key(KeyKind::kOldWord, longest), row);
    use.old_words = true;
  }
}

// A line that an address names: where it is in the file and whether it holds
// the address's detail (an old line: whether it is the address word for word,
// the district's own line beside its buildings').
struct Hit {
  std::uint32_t row;
  bool detail;
  std::uint32_t code;
  std::size_t offset;
  std::uint32_t size;
};

// One thread's part of the pass: the lines that begin in [begin, end).
class LinePass {
 public:
  LinePass(const std::vector<std::optional<LineMatcher>>& matchers, const KeyIndex& index, const KeyUse& use,
           const char* base)
      : matchers_(matchers),
        index_(index),
        use_(use),
        base_(base),
        last_code_(matchers.size(), ~0u),
        last_detail_(matchers.size(), false),
        kept_(matchers.size()) {}

  // Scans, adding the bytes done to `done` now and then; stops early when `stop` is set.
  void Run(const char* begin, const char* end, std::atomic<std::size_t>& done, const std::atomic<bool>& stop) {
    const char* reported = begin;
    for (const char* p = begin; p < end;) {
      const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
      const char* line_end = lf != nullptr ? static_cast<const char*>(lf) : end;
      std::string_view line(p, static_cast<std::size_t>(line_end - p));
      if (line.ends_with('\r')) line.remove_suffix(1);
      if (line.size() > kLineMaxBytes) line = line.substr(0, kLineMaxBytes);
      Line(line);
      p = line_end + 1;
      if (p - reported >= (1 << 20)) {
        done += static_cast<std::size_t>(p - reported);
        reported = p;
        if (stop.load(std::memory_order_relaxed)) return;
      }
    }
    done += static_cast<std::size_t>(std::max(end, reported) - reported);
  }

  std::vector<Hit>& hits() { return hits_; }
  // The codes past those kept, of lines that hold the detail and of others.
  std::size_t more(std::uint32_t row, bool detail) const { return detail ? kept_[row].more_detail : kept_[row].more; }

 private:
  void Line(std::string_view line) {
    tried_.clear();
    if (IsFiveDigitLine(line)) {
      std::string_view before;
      ForEachAddressWord(line, [&](std::string_view w) {
        // A building or lot number, as the search's number words are.
        if (!before.empty() && IsAddressNumber(w)) {
          Probe(Key(KeyKind::kPair, before, w), line);
        }
        if (use_.words && use_.word_shapes.test(KeyUse::Shape(w))) Probe(FoldedKey(KeyKind::kWord, w), line);
        before = w;
        return true;
      });
      if (use_.codes) Probe(CodeKey(CodeOfLine(line)), line);
    } else if (use_.old_words) {
      ForEachOldWord(line, [&](std::string_view w) { Probe(Key(KeyKind::kOldWord, w), line); });
    }
  }

  void Probe(std::uint64_t key, std::string_view line) {
    const auto [first, last] = index_.Find(key);
    for (const KeyIndex::Entry* e = first; e != last; ++e) {
      if (std::find(tried_.begin(), tried_.end(), e->second) != tried_.end()) continue;
      tried_.push_back(e->second);
      Try(e->second, line);
    }
  }

  void Try(std::uint32_t row, std::string_view line) {
    const LineMatcher& m = *matchers_[row];
    if (!m.Matches(line)) return;
    bool detail = false;
    if (IsFiveDigitLine(line)) {
      if (!m.IsBestMatch(line)) return;
      detail = m.HoldsDetail(line);
    } else {
      // An old line fits when it holds every word whole, as typed.
      std::size_t words = 0;
      for (std::size_t i = 0; i < m.word_count(); ++i) {
        bool whole = false;
        ForEachOldWord(line, [&](std::string_view w) { whole = whole || w == m.word(i); });
        if (!whole) return;
      }
      bool same = true;
      ForEachOldWord(line, [&](std::string_view w) {
        same = same && words < m.word_count() && w == m.word(words);
        ++words;
      });
      detail = same && words == m.word_count();
    }
    // One line a code is enough, and one that holds the detail.
    const std::uint32_t code = CodeOfLine(line);
    if (code == last_code_[row] && (last_detail_[row] || !detail)) return;
    if (code != last_code_[row]) last_detail_[row] = false;
    last_code_[row] = code;
    last_detail_[row] = last_detail_[row] || detail;
    // An address that names lines of many codes (a word alone) is counted,
    // not kept: it is 후보 whatever the rest.
    Kept& kept = kept_[row];
    if (kept.lines >= kKeptLines) {
      ++(detail ? kept.more_detail : kept.more);
      return;
    }
    ++kept.lines;
    hits_.push_back(
        {row, detail, code, static_cast<std::size_t>(line.data() - base_), static_cast<std::uint32_t>(line.size())});
  }

  const std::vector<std::optional<LineMatcher>>& matchers_;
  const KeyIndex& index_;
  KeyUse use_;
  const char* base_;
  std::vector<std::uint32_t> last_code_;
  std::vector<bool> last_detail_;
  static constexpr std::uint32_t kKeptLines = 2 * kMaxCandidates;
  struct Kept {
    std::uint32_t lines = 0, more = 0, more_detail = 0;
  };
  std::vector<Kept> kept_;
  std::vector<std::uint32_t> tried_;
  std::vector<Hit> hits_;
};

// Runs `work(part)` for parts 0..parts-1, each on a thread of its own, and
// `poll` on this thread meanwhile, so that the caller sees progress and may
// cancel at once. Nothing may cross a thread's start: the first part that
// throws has its exception thrown here, once every part has ended.
template <class Work, class Poll>
void InParts(std::size_t parts, Work work, Poll poll) {
  std::mutex guard;
  std::condition_variable finished;
  std::size_t running = parts;
  std::exception_ptr failure;
  poll();  // at least once, however soon the work ends
  std::vector<std::thread> threads;
  for (std::size_t part = 0; part < parts; ++part) {
    threads.emplace_back([&, part] {
      std::exception_ptr thrown;
      try {
        work(part);
      } catch (...) {
        thrown = std::current_exception();
      }
      const std::lock_guard<std::mutex> lock(guard);
      if (thrown && !failure) failure = thrown;
      if (--running == 0) finished.notify_one();
    });
  }
  {
    std::unique_lock<std::mutex> lock(guard);
    while (!finished.wait_for(lock, std::chrono::milliseconds(5), [&] { return running == 0; })) {
      lock.unlock();
      poll();
      lock.lock();
    }
  }
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
}

std::size_t PartsOfWork() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores >= 2 ? 2 : 1;
}

}  // namespace

BatchOutcome ConvertAddresses(OpenedData& data, const std::vector<Cp949String>& addresses,
                              const BatchProgress& progress) {
  BatchOutcome outcome;
  MappedFile& file = data.file();
  if (file.open_error() != 0) {
    outcome.status = SearchStatus::kOpenFailed;
    outcome.error = file.open_error();
    return outcome;
  }
  // The lines in memory: mapped, or read whole where the file cannot be mapped.
  std::string read;
  std::string_view bytes = file.bytes();
  if (!file.mapped() && file.size() > 0) {
    const FileStream stream = file.TakeStream();
    char block[1 << 16];
    for (std::size_t got; stream && (got = std::fread(block, 1, sizeof block, stream.get())) > 0;)
      read.append(block, got);
    if (!stream || std::ferror(stream.get()) != 0) {
      outcome.status = SearchStatus::kReadFailed;
      outcome.error = errno != 0 ? errno : EIO;
      return outcome;
    }
    bytes = read;
  }

  const std::size_t parts = PartsOfWork();
  std::atomic<bool> stop{false};
  // The share of the work: reading the addresses a tenth, the pass the rest.
  std::atomic<std::size_t> rows_done{0}, bytes_done{0};
  std::size_t matchers_count = 0;
  auto poll = [&] {
    if (!progress || stop.load()) return;
    const double share =
        0.1 * static_cast<double>(rows_done.load()) / static_cast<double>(std::max<std::size_t>(matchers_count, 1)) +
        0.9 * static_cast<double>(bytes_done.load()) / static_cast<double>(std::max<std::size_t>(bytes.size(), 1));
    if (!progress(std::min(share, 1.0))) stop = true;
  };

  // Every address read as a name search reads it, half of them on each thread.
  const bool five_only = data.all_five_digit();
  // A list names many an address more than once (a customer's orders): each
  // text is read and looked for once.
  std::vector<std::size_t> unique_of(addresses.size());
  std::vector<std::string_view> unique;
  {
    std::unordered_map<std::string_view, std::size_t> seen;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
      const auto [at, fresh] = seen.emplace(addresses[i].view().bytes(), unique.size());
      if (fresh) unique.push_back(addresses[i].view().bytes());
      unique_of[i] = at->second;
    }
  }
  std::vector<std::optional<LineMatcher>> matchers(unique.size());
  matchers_count = unique.size();
  InParts(
      parts,
      [&](std::size_t part) {
        for (std::size_t i = part; i < unique.size() && !stop.load(std::memory_order_relaxed); i += parts) {
          matchers[i].emplace(data.Request(MatchRule::kWords, Cp949View(unique[i])));
          ++rows_done;
        }
      },
      poll);
  if (stop.load()) {
    outcome.cancelled = true;
    return outcome;
  }
  KeyIndex index;
  KeyUse use;
  for (std::size_t i = 0; i < matchers.size(); ++i)
    AddKeys(*matchers[i], static_cast<std::uint32_t>(i), !five_only, index, use);
  index.Build();

  // The file in parts that end at line ends, one pass each.
  std::vector<const char*> cuts{bytes.data()};
  for (std::size_t part = 1; part < parts; ++part) {
    const char* at = bytes.data() + bytes.size() * part / parts;
    const void* lf = std::memchr(at, '\n', static_cast<std::size_t>(bytes.data() + bytes.size() - at));
    cuts.push_back(
        std::max(cuts.back(), lf != nullptr ? static_cast<const char*>(lf) + 1 : bytes.data() + bytes.size()));
  }
  cuts.push_back(bytes.data() + bytes.size());
  std::vector<LinePass> passes;
  passes.reserve(parts);
  for (std::size_t part = 0; part < parts; ++part) passes.emplace_back(matchers, index, use, bytes.data());
  InParts(
      parts, [&](std::size_t part) { passes[part].Run(cuts[part], cuts[part + 1], bytes_done, stop); }, poll);
  if (stop.load()) {
    outcome.cancelled = true;
    return outcome;
  }

  // The hits by address, those that hold the detail first, then in file order.
  std::vector<Hit> hits;
  for (LinePass& pass : passes) hits.insert(hits.end(), pass.hits().begin(), pass.hits().end());
  std::stable_sort(hits.begin(), hits.end(),
                   [](const Hit& a, const Hit& b) { return a.row != b.row ? a.row < b.row : a.detail > b.detail; });
  std::vector<AddressResult> results(unique.size());
  for (std::size_t i = 0; i < hits.size();) {
    std::size_t j = i;
    while (j < hits.size() && hits[j].row == hits[i].row) ++j;
    // Where some lines hold the detail, they are what the address names.
    std::size_t end = i;
    while (end < j && hits[end].detail == hits[i].detail) ++end;
    AddressResult& result = results[hits[i].row];
    std::unordered_set<std::uint32_t> codes;
    for (std::size_t k = i; k < end; ++k) {
      if (!codes.insert(hits[k].code).second) continue;
      if (result.candidates.size() < kMaxCandidates)
        result.candidates.emplace_back(Cp949View(bytes.substr(hits[k].offset, hits[k].size)));
    }
    result.codes = codes.size();
    for (const LinePass& pass : passes) result.codes += pass.more(hits[i].row, hits[i].detail);
    result.verdict = codes.size() == 1 ? AddressVerdict::kMatch : AddressVerdict::kCandidates;
    i = j;
  }
  outcome.results.reserve(addresses.size());
  for (const std::size_t u : unique_of) outcome.results.push_back(results[u]);
  if (progress) progress(1.0);
  return outcome;
}

TableRow ResultFields(const AddressResult& result, const CodeNames& names, std::size_t pick) {
  if (result.verdict == AddressVerdict::kNone || result.candidates.empty()) return {"", "", "", "없음"};
  const std::string& line = result.candidates[pick < result.candidates.size() ? pick : 0].bytes();
  return {std::string(CutForCopy(line, kCopyPostcode)), Utf8FromCp949(Cp949View(CutForCopy(line, kCopyAddress))),
          names.EnglishAddress(line),
          result.verdict == AddressVerdict::kMatch ? std::string("일치") : "후보 " + std::to_string(result.codes)};
}

}  // namespace marlix
