// Fuzzes what an update takes from the server before any hash has vouched for
// it: the manifest's text (what reads writes back as itself), a line delta
// over a base (it applies or is refused, never reads past either, and a delta
// made from two texts turns the one into the other) and gzip bytes (never
// more out than the cap).
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "gzip_stream.h"
#include "line_delta.h"
#include "manifest.h"

using marlix::fuzz::Check;

namespace {

std::string Apply(std::string_view base, std::string_view delta, bool& applied) {
  std::string out, error;
  std::string b(base), d(delta);
  std::FILE* base_file = b.empty() ? std::tmpfile() : fmemopen(b.data(), b.size(), "rb");
  std::FILE* delta_file = d.empty() ? std::tmpfile() : fmemopen(d.data(), d.size(), "rb");
  applied = marlix::ApplyLineDelta(base_file, delta_file, [&](std::string_view piece) {
    out += piece;
    return out.size() <= b.size() + d.size();
  }, error);
  std::fclose(base_file);
  std::fclose(delta_file);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t half = in.size() / 2;
  switch (data[0] % 4) {
    case 0:
      if (const auto manifest = marlix::ParseManifest(in).manifest) {
        const std::string text = marlix::ManifestText(*manifest);
        Check(text == in, "a manifest that reads is not written back as the same text");
      }
      break;
    case 1: {
      bool applied = false;
      const std::string out = Apply(in.substr(0, half), in.substr(half), applied);
      Check(applied || out.size() <= in.size(), "a refused delta wrote without end");
      break;
    }
    case 2: {
      const std::string_view from = in.substr(0, half), to = in.substr(half);
      bool applied = false;
      Check(Apply(from, marlix::MakeLineDelta(from, to), applied) == to && applied,
            "a delta does not turn its base into its target");
      break;
    }
    default: {
      const std::uint64_t cap = data[0];
      std::uint64_t out = 0;
      marlix::GzipInflater inflater(cap, [&](std::string_view piece) {
        out += piece.size();
        return true;
      });
      inflater.Add(in);
      Check(out <= cap, "inflated past the cap");
    }
  }
  return 0;
}
