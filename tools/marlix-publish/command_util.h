// What the publisher's commands share: their messages and whole-file reads.
#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace marlix::publish {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;  // verify: a signature does not hold
inline constexpr int kExitTrouble = 2;

inline int Fail(const std::string& message) {
  std::fprintf(stderr, "marlix-publish: %s\n", message.c_str());
  return kExitTrouble;
}

inline int UsageError(const std::string& message, const char* usage) {
  std::fprintf(stderr, "marlix-publish: %s\nUsage:\n%s", message.c_str(), usage);
  return kExitTrouble;
}

inline std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  // Sized first where the size is known, so that the country's data is not
  // copied as the string grows.
  std::string bytes;
  const std::streamoff size = in.seekg(0, std::ios::end) ? std::streamoff(in.tellg()) : -1;
  in.clear();
  in.seekg(0);
  if (size > 0) {
    bytes.resize(static_cast<std::size_t>(size));
    if (!in.read(bytes.data(), size)) return std::nullopt;
  }
  bytes.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

}  // namespace marlix::publish
