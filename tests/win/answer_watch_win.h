// What a test measures of a running program from outside: how long its
// window takes to answer, and its private bytes, sampled on a thread of the
// test's own while the test waits on what the program is busy with.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <functional>
#include <utility>

namespace marlix_test {

// The process's private bytes (its commit charge). Wine leaves PrivateUsage
// at 0 and gives the same figure, its resident private memory, as
// PagefileUsage, which Windows documents as the same commit charge.
inline SIZE_T PrivateBytes(HANDLE process) {
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (!::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) return 0;
  return memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
}

// Runs `tick` every `period_ms` on a thread of its own, while the test waits
// on something the process is busy with, until stopped.
class Every {
 public:
  Every(DWORD period_ms, std::function<void()> tick) : period_ms_(period_ms), tick_(std::move(tick)) {
    thread_ = ::CreateThread(nullptr, 0, &Every::Run, this, 0, nullptr);
  }
  Every(const Every&) = delete;
  Every& operator=(const Every&) = delete;
  ~Every() { Stop(); }
  // Once it returns, what the ticks wrote can be read.
  void Stop() {
    if (!thread_) return;
    ::InterlockedExchange(&stop_, 1);
    ::WaitForSingleObject(thread_, INFINITE);
    ::CloseHandle(thread_);
    thread_ = nullptr;
  }

 private:
  static DWORD WINAPI Run(LPVOID self) {
    auto& e = *static_cast<Every*>(self);
    while (!::InterlockedCompareExchange(&e.stop_, 0, 0)) {
      e.tick_();
      ::Sleep(e.period_ms_);
    }
    return 0;
  }

  DWORD period_ms_;
  std::function<void()> tick_;
  HANDLE thread_;
  volatile LONG stop_ = 0;
};

// How long a window takes to answer a message, as another program would ask
// (a null message sent with a time-out); -1 when it does not answer within
// the bound.
inline double WindowAnswerMs(HWND window, UINT bound_ms) {
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  DWORD_PTR ignored;
  if (!::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, bound_ms, &ignored)) return -1;
  ::QueryPerformanceCounter(&end);
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Asks a window for an answer every 100 ms and keeps the longest wait.
class AnswerWatch {
 public:
  explicit AnswerWatch(HWND window)
      : every_(100, [this, window] {
          const double ms = WindowAnswerMs(window, 10000);
          worst_ms_ = std::max(worst_ms_, ms < 0 ? 10000 : ms);
        }) {}
  // Stops asking; the longest wait, in milliseconds.
  double Finish() {
    every_.Stop();
    return worst_ms_;
  }

 private:
  double worst_ms_ = 0;  // before every_: the thread writes it from its first tick
  Every every_;
};

}  // namespace marlix_test
