// The search window's search, run on a thread of its own so that the window
// answers throughout a long one: the lines found come to the window in
// batches, each with its place in the file, and a search that is no longer
// wanted (a new one, another tab, the window's end) stops within a block of
// the file. Portable; `wake`, called from the search's thread, must only tell
// the window that there is news (it posts itself a message), and the window
// takes the news on its own thread. `wake` is called again only after a Take
// that left nothing behind.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "postcode_search.h"

namespace marlix {

// One search as the window asks for it; the terms are the data's CP949 bytes,
// owned here, since the window's boxes change while the search runs.
struct SearchJob {
  std::string data_file;  // UTF-8
  MatchRule rule = MatchRule::kWords;
  Cp949String term1, term2;
  // A term held a character that CP949 cannot hold: it is in no line.
  bool finds_nothing = false;
};

// A line of the data as the list shows it and where its own bytes lie.
struct FoundLine {
  Cp949String text;  // without a half character at its end
  LineOffset offset = 0;
  std::size_t length = 0;  // of the line's bytes in the file
};

struct SearchEnd {
  bool data_missing = false;  // the data file did not open
  std::size_t matches = 0;    // all of them, listed or not
  std::uint64_t file_size = 0;
  std::string failure;  // why the search stopped short, when it failed
};

class SearchWorker {
 public:
  struct News {
    std::vector<FoundLine> lines;  // the next ones in list order
    std::uint64_t file_size = 0;   // of the data file searched, once it opened
    std::optional<SearchEnd> end;  // once the search has ended and every line was taken
  };

  // Starts the search at once.
  SearchWorker(SearchJob job, std::function<void()> wake);
  // Stops the search and waits for its thread, which lets the data file go.
  ~SearchWorker();
  SearchWorker(const SearchWorker&) = delete;
  SearchWorker& operator=(const SearchWorker&) = delete;

  // At most `most` of the lines found so far, oldest first; the end comes
  // with the last of them.
  News Take(std::size_t most);
  // Lines are waiting beyond those taken: the window comes back for them.
  bool HasMore();

 private:
  void Run(const SearchJob& job);
  void Tell(std::vector<FoundLine>& lines, const std::optional<SearchEnd>& end);

  std::atomic<bool> cancel_{false};
  std::function<void()> wake_;
  std::mutex mutex_;
  std::deque<FoundLine> lines_;
  std::optional<SearchEnd> end_;
  std::uint64_t file_size_ = 0;
  bool wake_pending_ = false;
  std::thread thread_;
};

// The bytes of one found line read from the data file again, for its copy:
// nothing when the file has changed size since the search (another set in
// place) or cannot be read.
std::optional<Cp949String> ReadFoundLine(const std::string& data_file, std::uint64_t searched_size, LineOffset offset,
                                         std::size_t length);

}  // namespace marlix
