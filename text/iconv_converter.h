// A conversion between two encodings through the system's iconv (Linux), for
// the tools that convert a few texts or scan one file once and must start
// fast: no tables are built, as text.h's conversions build on first use.
#pragma once

#include <iconv.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

namespace marlix {

class IconvConverter {
 public:
  // From `from` to `to`, as iconv names them ("CP949", "UTF-8", ...).
  IconvConverter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvConverter() {
    if (ok()) iconv_close(cd_);
  }
  IconvConverter(const IconvConverter&) = delete;
  IconvConverter& operator=(const IconvConverter&) = delete;

  // False when this system's iconv lacks one of the two encodings.
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Strict: nothing when any byte does not convert.
  std::optional<std::string> Strict(std::string_view in) {
    std::string out;
    if (Run(in, &out, nullptr) != std::string_view::npos) return std::nullopt;
    return out;
  }

  // Lenient: each byte that does not convert becomes `replacement`.
  void Lenient(std::string_view in, std::string& out, std::string_view replacement) {
    out.clear();
    Run(in, &out, &replacement);
  }

  // The offset of the first byte that does not convert (a cut character at
  // the end included), or npos when all of `in` does.
  std::size_t FirstNotConverted(std::string_view in) { return Run(in, nullptr, nullptr); }

 private:
  std::size_t Run(std::string_view in, std::string* out, const std::string_view* replacement) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    char chunk[4096];
    while (src_left > 0) {
      char* dst = chunk;
      std::size_t dst_left = sizeof chunk;
      const std::size_t r = iconv(cd_, &src, &src_left, &dst, &dst_left);
      if (out) out->append(chunk, static_cast<std::size_t>(dst - chunk));
      if (r != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) continue;
      if (replacement == nullptr) return static_cast<std::size_t>(src - in.data());
      out->append(*replacement);  // EILSEQ or a cut character (EINVAL): skip one byte
      ++src;
      --src_left;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return std::string_view::npos;
  }

  iconv_t cd_;
};

}  // namespace marlix
