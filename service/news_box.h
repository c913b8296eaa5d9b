// What a worker thread tells its owner, gathered under a lock. `wake`, called
// on the worker's thread, must only tell the owner that there is news (a
// window posts itself a message); it is called again only after a Take, and
// never after Forget.
#pragma once

#include <functional>
#include <mutex>
#include <utility>

namespace marlix {

template <class News>
class NewsBox {
 public:
  explicit NewsBox(std::function<void()> wake) : wake_(std::move(wake)) {}

  // Changes the news under the lock, then wakes the owner unless a wake is
  // waiting for its Take already.
  template <class Change>
  void Tell(Change&& change) {
    std::function<void()> wake;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      change(news_);
      if (!std::exchange(wake_pending_, true)) wake = wake_;
    }
    if (wake) wake();
  }

  // The news told since the last Take.
  News Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_pending_ = false;
    return std::exchange(news_, News{});
  }

  // The owner is gone: no more wakes.
  void Forget() {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_ = nullptr;
  }

 private:
  std::mutex mutex_;
  News news_;
  bool wake_pending_ = false;
  std::function<void()> wake_;
};

}  // namespace marlix
