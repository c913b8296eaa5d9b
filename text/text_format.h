// A printf format filled in with texts, for the messages of both programs.
#pragma once

#include <cstdio>
#include <string>

namespace marlix {

namespace text_format {
inline const char* Arg(const std::string& text) { return text.c_str(); }
inline const char* Arg(const char* text) { return text; }
}  // namespace text_format

// `format` takes only %s, one for each of `texts`.
template <typename... Texts>
std::string FormatText(const char* format, const Texts&... texts) {
  const int n = std::snprintf(nullptr, 0, format, text_format::Arg(texts)...);
  if (n <= 0) return {};
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, text_format::Arg(texts)...);
  text.resize(static_cast<std::size_t>(n));
  return text;
}

}  // namespace marlix
