// What the Windows tests share about the host's test service server, which
// ctest starts for them (fixture marlix_test_server): its address is in the
// state folder's "url", and it serves the files of the folder's "root".
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace marlix_test {

// The state folder as Wine sees it.
inline const std::string kServerState = MARLIX_TEST_SERVER_STATE;

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The server's base address, e.g. http://127.0.0.1:40123; empty when none runs.
inline std::string TestServerUrl() {
  std::string url = ReadBytes(kServerState + "/url");
  while (!url.empty() && (url.back() == '\n' || url.back() == '\r')) url.pop_back();
  return url.rfind("http://127.0.0.1:", 0) == 0 ? url : std::string();
}

// Puts a file on the server under /zipcode/search/NAME.
inline void Serve(const std::string& name, const std::string& bytes) {
  WriteBytes(kServerState + "/root/" + name, bytes);
}

}  // namespace marlix_test
