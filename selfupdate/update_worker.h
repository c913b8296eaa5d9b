// The program update on a thread of its own, so that the updater's window
// answers throughout. What the update does to its window is kept here for the
// window's thread: the latest status, bar and buttons, taken when the window
// is told there is news (at most as often as it wants them), and a notice or
// warning, which holds the update until the window has shown it and the user
// has answered.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "program_update.h"

namespace marlix::updater {

class UpdateWorker final : public UpdateWindow {
 public:
  UpdateWorker() = default;
  // A notice still waiting is let go unanswered, and the update is waited for.
  ~UpdateWorker() override;
  UpdateWorker(const UpdateWorker&) = delete;
  UpdateWorker& operator=(const UpdateWorker&) = delete;

  // Runs `update` on the worker's thread; false while a run is under way.
  // `wake` tells the window's thread, from the worker's, that news waits; it
  // is called once until the news is taken.
  bool Start(std::function<void()> update, std::function<void()> wake);
  // From Start until Take has told that the run finished.
  bool Running();

  struct Message {
    std::string text;
    bool warning = false;  // the exclamation icon
  };
  // What changed since the last Take, for the window's thread.
  struct News {
    std::optional<std::string> status;
    std::optional<std::pair<int, int>> range;
    std::optional<int> position;
    std::optional<bool> ok_enabled;
    std::optional<bool> cancel_enabled;
    std::optional<Message> message;  // to be shown, then Answered()
    bool end = false;                // the update asked the window to close
    bool finished = false;           // the run is over and its thread gone
  };
  News Take();
  void Answered();

 private:
  // The update's calls, on the worker's thread.
  void SetStatus(const std::string& text) override;
  void SetProgressRange(int lower, int upper) override;
  void SetProgressPos(int position) override;
  void EnableOK(bool enable) override;
  void EnableCancel(bool enable) override;
  void Notice(const std::string& text) override { Ask({text, false}); }
  void Warning(const std::string& text) override { Ask({text, true}); }
  // The window's thread paints by itself.
  void Repaint() override {}
  void End() override;

  void Ask(Message message);
  // Called with the lock held, after a change of news_.
  void Wake(std::unique_lock<std::mutex>& lock);

  std::function<void()> wake_;
  std::mutex mutex_;
  std::condition_variable answered_;
  News news_;
  bool woken_ = false;
  bool answer_waits_ = false;
  bool closing_ = false;
  bool running_ = false;
  std::thread thread_;
};

}  // namespace marlix::updater
