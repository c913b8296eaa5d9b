// What the Windows tests share about the host's test service server, which
// ctest starts for them (fixture marlix_test_server): its address is in the
// state folder's "url", and it serves the files of the folder's "root",
// signed with the build's development key.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "test_slot_win.h"
#include "test_text_win.h"

namespace marlix_test {

// The state folder of this slot's server, as Wine sees it.
inline const std::string kServerState = FromEnvironment("MARLIX_TEST_SERVER_STATE", MARLIX_TEST_SERVER_STATE);

// Paths are UTF-8; the files are opened by their UTF-16 names.
inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(std::filesystem::path(Wide(path)), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(Wide(path)), std::ios::binary | std::ios::trunc);
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

// A newer (or older) build of a program: the same file with another version
// in its version resource, the file and product versions of its
// VS_FIXEDFILEINFO rewritten in place, so that it stays a program that runs.
inline std::string WithVersion(std::string program, WORD major, WORD minor) {
  const std::wstring key = L"VS_VERSION_INFO";
  const std::size_t named =
      program.find(std::string(reinterpret_cast<const char*>(key.c_str()), key.size() * sizeof(wchar_t)));
  const std::size_t at = named == std::string::npos ? named : program.find("\xBD\x04\xEF\xFE", named);
  if (at == std::string::npos || at + sizeof(VS_FIXEDFILEINFO) > program.size()) {
    ADD_FAILURE() << "no version resource in the program";
    return program;
  }
  VS_FIXEDFILEINFO fixed{};
  std::memcpy(&fixed, program.data() + at, sizeof fixed);
  fixed.dwFileVersionMS = fixed.dwProductVersionMS = MAKELONG(minor, major);
  fixed.dwFileVersionLS = fixed.dwProductVersionLS = 0;
  std::memcpy(program.data() + at, &fixed, sizeof fixed);
  return program;
}

}  // namespace marlix_test
