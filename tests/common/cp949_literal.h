// The data's CP949 bytes for a test's Korean text, which the sources spell in
// UTF-8 like every other string: "역삼동"_cp949. The bytes live as long as the
// test program, so a search request may hold a view of them.
#pragma once

#include <cstddef>
#include <mutex>
#include <set>
#include <string>

#include "text.h"

namespace marlix::testing {

inline const std::string& operator""_cp949(const char* utf8, std::size_t size) {
  static std::mutex guard;
  static std::set<std::string> made;
  const std::lock_guard<std::mutex> lock(guard);
  return *made.insert(Cp949FromUtf8({utf8, size}).bytes()).first;
}

}  // namespace marlix::testing
