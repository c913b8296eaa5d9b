#include "update_worker.h"

#include "caught_text.h"

namespace marlix::updater {

UpdateWorker::~UpdateWorker() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  answered_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool UpdateWorker::Start(std::function<void()> update, std::function<void()> wake) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (running_) return false;
  running_ = true;
  wake_ = std::move(wake);
  lock.unlock();
  // The thread of an earlier run has ended (its news said so) or is ending.
  if (thread_.joinable()) thread_.join();
  thread_ = std::thread([this, update = std::move(update)] {
    // Nothing may cross the thread's start: an update that throws warns why
    // and gives the buttons back, as one whose download failed.
    try {
      update();
    } catch (...) {
      Warning(CaughtText());
      EnableOK(true);
      EnableCancel(true);
    }
    std::unique_lock<std::mutex> done(mutex_);
    news_.finished = true;
    Wake(done);
  });
  return true;
}

bool UpdateWorker::Running() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

UpdateWorker::News UpdateWorker::Take() {
  std::unique_lock<std::mutex> lock(mutex_);
  News news = std::exchange(news_, News{});
  woken_ = false;
  if (news.finished) running_ = false;
  lock.unlock();
  if (news.finished && thread_.joinable()) thread_.join();
  return news;
}

void UpdateWorker::Answered() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    answer_waits_ = false;
  }
  answered_.notify_all();
}

void UpdateWorker::SetStatus(const std::string& text) {
  std::unique_lock<std::mutex> lock(mutex_);
  news_.status = text;
  Wake(lock);
}

void UpdateWorker::SetProgressRange(int lower, int upper) {
  std::unique_lock<std::mutex> lock(mutex_);
  news_.range = {lower, upper};
  news_.position.reset();  // a new range starts the bar afresh
  Wake(lock);
}

void UpdateWorker::SetProgressPos(int position) {
  std::unique_lock<std::mutex> lock(mutex_);
  news_.position = position;
  Wake(lock);
}

void UpdateWorker::EnableOK(bool enable) {
  std::unique_lock<std::mutex> lock(mutex_);
  news_.ok_enabled = enable;
  Wake(lock);
}

void UpdateWorker::EnableCancel(bool enable) {
  std::unique_lock<std::mutex> lock(mutex_);
  news_.cancel_enabled = enable;
  Wake(lock);
}

void UpdateWorker::End() {
  std::unique_lock<std::mutex> lock(mutex_);
  news_.end = true;
  Wake(lock);
}

// The status and bar of the moment go with the message, so that the user
// reads it beside what the update was doing.
void UpdateWorker::Ask(Message message) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (closing_) return;
  news_.message = std::move(message);
  answer_waits_ = true;
  Wake(lock);
  lock.lock();
  answered_.wait(lock, [this] { return !answer_waits_ || closing_; });
}

void UpdateWorker::Wake(std::unique_lock<std::mutex>& lock) {
  const bool tell = !std::exchange(woken_, true);
  lock.unlock();
  if (tell) wake_();
}

}  // namespace marlix::updater
