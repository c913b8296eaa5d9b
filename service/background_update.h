// The network work of a window, run on threads of their own so that the
// window answers its user throughout: the data update and the fetch of the
// server's data version. What the work tells as it goes is gathered here
// under a lock; `wake`, called from the work's thread, must only tell the
// owner that there is news (a window posts itself a message), and the owner
// takes the news on its own thread. `wake` is called again only after a Take.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "data_update.h"
#include "data_version.h"
#include "news_box.h"

namespace marlix {

class DataUpdateWorker {
 public:
  struct News {
    std::optional<std::string> status;        // the latest status line
    std::vector<std::string> local_failures;  // message boxes, in order
    bool progressed = false;
    std::uint64_t done = 0, total = 0;         // when progressed
    std::optional<DataUpdateOutcome> outcome;  // once the update has ended
  };

  // Starts PrepareDataUpdate at once; nothing of the data set changes here.
  DataUpdateWorker(ServiceAccess access, std::string agent, std::string folder, std::function<void()> wake);
  // Stops the transfer and waits for its thread.
  ~DataUpdateWorker();
  DataUpdateWorker(const DataUpdateWorker&) = delete;
  DataUpdateWorker& operator=(const DataUpdateWorker&) = delete;

  // The transfer stops at its next block and keeps what arrived for the next
  // try; the outcome follows as news. Returns at once.
  void Stop() { cancel_ = true; }
  News Take();
  // The update has ended and its outcome was taken: nothing more will come.
  bool Ended() const { return ended_; }

 private:
  void Tell(const std::function<void(News&)>& change) { news_.Tell(change); }

  std::atomic<bool> cancel_{false};
  NewsBox<News> news_;
  bool ended_ = false;
  std::thread thread_;
};

// One fetch of the data-version file. A window that starts another drops this
// one: it is let run out on its own (the text is small and the time-outs
// bound it) and what it finds is never shown.
class DataVersionWorker {
 public:
  struct News {
    std::optional<std::string> status;
    std::optional<DataVersion> version;  // once the fetch has ended
    std::optional<Manifest> manifest;    // the server's, when it has one; with `version`
  };

  DataVersionWorker(ServiceAccess access, std::function<void()> wake);
  // Nothing of the fetch is wanted any more: it ends on its own and tells no one.
  ~DataVersionWorker();
  DataVersionWorker(const DataVersionWorker&) = delete;
  DataVersionWorker& operator=(const DataVersionWorker&) = delete;

  News Take();

 private:
  // Shared with the thread, which may outlive its owner.
  std::shared_ptr<NewsBox<News>> news_;
};

// The panel's line of editions: the one installed here beside the server's
// ("이 컴퓨터: 2판 / 서버: 3판 (2026-12-15)", UTF-8).
std::string EditionsText(const std::optional<Manifest>& local, const std::optional<Manifest>& server);

// What a window shows of a running transfer: the bar's share and a text of
// bytes, percent and time left ("12.3 MB / 29.1 MB (42%), 남은 시간 약 8초",
// UTF-8). The time left goes by the pace since the first reading, which
// leaves out the bytes a resumed file had already, and is shown once the
// pace has run for a second.
class TransferPace {
 public:
  void Note(std::uint64_t done, std::uint64_t total, std::uint64_t now_ms);
  // Of 1000.
  int Permille() const;
  std::string Text() const;

 private:
  std::optional<std::uint64_t> first_done_, first_ms_;
  std::uint64_t done_ = 0, total_ = 0, now_ms_ = 0;
};

}  // namespace marlix
