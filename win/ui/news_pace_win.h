// The pace at which a window takes a worker thread's news: at most once a
// period, so that a fast worker does not keep the window repainting. News
// that comes sooner is taken by a timer when the period is over; the worker
// posts nothing more until it is taken.
#pragma once

#include <windows.h>

class NewsPace {
 public:
  NewsPace(UINT_PTR timer_id, ULONGLONG period_ms) : timer_id_(timer_id), period_ms_(period_ms) {}

  // On the worker's news message: true when the news is to be taken now;
  // otherwise the timer will say when.
  bool Due(HWND window) {
    const ULONGLONG now = ::GetTickCount64();
    if (now < next_ms_) {
      ::SetTimer(window, timer_id_, static_cast<UINT>(next_ms_ - now), nullptr);
      return false;
    }
    next_ms_ = now + period_ms_;
    return true;
  }
  // On WM_TIMER: true when it is this pace's timer, and the news is to be taken.
  bool IsDueTimer(HWND window, WPARAM id) {
    if (id != timer_id_) return false;
    ::KillTimer(window, timer_id_);
    next_ms_ = ::GetTickCount64() + period_ms_;
    return true;
  }

 private:
  UINT_PTR timer_id_;
  ULONGLONG period_ms_;
  ULONGLONG next_ms_ = 0;
};
