// What a catch-all caught, in words for the failure it reports: nothing may
// cross a window procedure or a thread's start, and each says what stopped it.
#pragma once

#include <exception>
#include <string>

namespace marlix {

inline constexpr char kUnexpectedError[] = "Unexpected error";

// Called only from inside a catch block.
inline std::string CaughtText() {
  try {
    // cppcheck-suppress rethrowNoCurrentException ; called only from inside a catch block, to name what it caught
    throw;
  } catch (const std::exception& e) {
    if (e.what() && *e.what()) return e.what();
  } catch (...) {
  }
  return kUnexpectedError;
}

}  // namespace marlix
