// Fuzzes what an update takes from the server before any hash has vouched for
// it: the manifest's text (what reads writes back as itself), a line delta
// over a base (it applies or is refused, never reads past either, and a delta
// made from two texts turns the one into the other when the base's lines are
// data lines' length), gzip bytes (never more out than the cap) and the
// file-by-file checks of a data file's bytes (the same verdict in pieces cut
// anywhere, and for postcode.txt the publisher's line rule).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "data_file_check.h"
#include "data_files.h"
#include "fuzz_support.h"
#include "gzip_stream.h"
#include "line_delta.h"
#include "line_delta_of.h"
#include "line_form.h"
#include "manifest.h"

using marlix::fuzz::Check;

namespace {

std::string Apply(std::string_view base, std::string_view delta, bool& applied) {
  std::string out, error;
  std::string b(base), d(delta);
  std::FILE* base_file = b.empty() ? std::tmpfile() : fmemopen(b.data(), b.size(), "rb");
  std::FILE* delta_file = d.empty() ? std::tmpfile() : fmemopen(d.data(), d.size(), "rb");
  applied = marlix::ApplyLineDelta(
      base_file, delta_file,
      [&](std::string_view piece) {
        out += piece;
        return out.size() <= b.size() + d.size();
      },
      error);
  std::fclose(base_file);
  std::fclose(delta_file);
  return out;
}

// Whether every line of `text` fits what a base line may have.
bool LinesFit(std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t size = end == std::string_view::npos ? text.size() : end + 1;
    if (size > marlix::kDataLineMaxBytes + 2) return false;
    text.remove_prefix(size);
  }
  return true;
}

// The publisher's rule for postcode.txt, line by line over the whole text.
bool ArePostcodeLines(std::string_view text) {
  if (text.empty()) return false;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (marlix::PublishedFormOf(line) == marlix::LineForm::kNone) return false;
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return true;
}

std::string Verdict(const char* name, std::string_view bytes, std::size_t split) {
  marlix::DataFileCheck check(name);
  split = std::min(split, bytes.size());
  check.Add(bytes.substr(0, split));
  check.Add(bytes.substr(split));
  return check.Finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t half = in.size() / 2;
  switch (data[0] % 5) {
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
      const std::string out = Apply(from, marlix::testing::LineDeltaOf(from, to), applied);
      if (LinesFit(from)) {
        Check(applied && out == to, "a delta does not turn its base into its target");
      } else {
        Check(!applied, "a base line longer than a data line was taken");
      }
      break;
    }
    case 3: {
      if (in.empty()) break;
      const char* name = marlix::kDataFiles[static_cast<unsigned char>(in[0]) % 3];
      const std::string_view bytes = in.substr(1);
      const std::string whole = Verdict(name, bytes, bytes.size());
      Check(Verdict(name, bytes, bytes.size() / 3) == whole && Verdict(name, bytes, 1) == whole,
            "a data file's verdict depends on how its bytes came");
      if (name == std::string_view(marlix::kPostcodeFile)) {
        Check(whole.empty() == ArePostcodeLines(bytes), "postcode.txt judged otherwise than the publisher's rule");
      }
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
