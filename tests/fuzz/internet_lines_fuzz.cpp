// Fuzzes the reading side of a remote file over arbitrary bodies, handed over
// in arbitrary pieces: line reads (a line feed ends a line, every CR is
// dropped), block reads mixed in, Close, and a connection that breaks midway.
// A model of the body says what each read must give.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "memory_body.h"

using marlix::fuzz::Check;

namespace {

// What the reads must give, from a cursor into the raw body.
struct Model {
  std::string_view body;
  std::size_t fail_at;
  std::size_t cursor = 0;
  bool closed = false;

  // True when the next line read needs bytes the broken connection never gives.
  bool LineBreaksOff() const {
    if (closed) return false;
    const std::size_t lf = body.find('\n', cursor);
    return lf == std::string_view::npos ? fail_at <= body.size() : lf >= fail_at;
  }
  bool ReadLine(std::string& line) {
    if (closed || cursor == body.size()) return false;
    const std::size_t lf = body.find('\n', cursor);
    const std::size_t end = lf == std::string_view::npos ? body.size() : lf;
    line = marlix::fuzz::WithoutCr(body.substr(cursor, end - cursor));
    cursor = lf == std::string_view::npos ? body.size() : lf + 1;
    return true;
  }
  bool BlockBreaksOff(std::size_t count) const { return !closed && count > 0 && cursor + count > fail_at; }
  std::string_view ReadBlock(std::size_t count) {
    if (closed) return {};
    const std::string_view block = body.substr(cursor, count);
    cursor += block.size();
    return block;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const unsigned read_ahead = static_cast<unsigned char>(in[0]);
  const std::size_t chunk_count = static_cast<unsigned char>(in[1]) % 8;
  const bool breaks = (static_cast<unsigned char>(in[1]) & 0x80) != 0;
  const std::size_t op_count = static_cast<unsigned char>(in[2]) % 16;
  in.remove_prefix(3);
  if (in.size() < chunk_count + op_count) return 0;
  const std::string_view chunks = in.substr(0, chunk_count);
  const std::string_view ops = in.substr(chunk_count, op_count);
  const std::string_view body = in.substr(chunk_count + op_count);

  Model model{body, breaks ? body.size() / 2 : std::string_view::npos};
  auto file = marlix::fuzz::OpenBody(body, chunks, model.fail_at);
  // A zero size is refused and the default read-ahead stays.
  Check(file->SetReadBufferSize(read_ahead) == (read_ahead != 0), "SetReadBufferSize answer");

  std::string line;
  std::string expected_line;
  auto read_line = [&]() {
    if (model.LineBreaksOff()) {
      try {
        (void)file->ReadString(line);
      } catch (const CInternetException&) {
        return false;
      }
      marlix::fuzz::Fail("a line read past a broken connection did not throw");
    }
    const bool want = model.ReadLine(expected_line);
    Check(file->ReadString(line) == want, "ReadString result");
    Check(!want || line == expected_line, "ReadString line");
    return want;
  };

  for (char op_byte : ops) {
    const auto op = static_cast<unsigned char>(op_byte);
    if (op % 8 == 7) {
      file->Close();
      file->Close();  // a second Close does nothing
      model.closed = true;
    } else if (op % 2 == 0) {
      if (!read_line() && model.LineBreaksOff()) return 0;
    } else {
      const std::size_t count = op / 2;
      char block[128];
      if (model.BlockBreaksOff(count)) {
        try {
          (void)file->Read(block, static_cast<unsigned>(count));
        } catch (const CInternetException&) {
          return 0;
        }
        marlix::fuzz::Fail("a block read past a broken connection did not throw");
      }
      const std::string_view want = model.ReadBlock(count);
      const unsigned got = file->Read(block, static_cast<unsigned>(count));
      Check(std::string_view(block, got) == want, "Read block");
    }
  }
  // The rest of the body line by line: the lines joined by line feeds are the
  // body without its CRs.
  std::string joined;
  const std::size_t rest = model.cursor;
  bool any = false;
  while (true) {
    const bool broke = model.LineBreaksOff();
    if (!read_line()) {
      if (broke) return 0;
      break;
    }
    if (any) joined += '\n';
    joined += line;
    any = true;
  }
  if (!model.closed) {
    std::string want = marlix::fuzz::WithoutCr(body.substr(rest));
    if (!want.empty() && want.back() == '\n' && body.back() == '\n') want.pop_back();
    Check(joined == want, "lines joined differ from the body without CRs");
  }
  return 0;
}
