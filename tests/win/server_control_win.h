// Telling the host's test service server how to answer, from the Windows
// tests: a fault on one file, and signatures it makes on request.
#pragma once

#include <windows.h>

#include <string>

#include "internet.h"
#include "signature.h"
#include "test_server_win.h"

namespace marlix_test {

// Sets how the test server at `base` answers NAME; an empty query serves it
// normally again.
inline void SetFault(const std::string& base, const std::string& name, const std::string& query) {
  CInternetSession session("test");
  auto answer = session.OpenURL(base + "/_control/fault?name=" + name + "&" + query);
  answer->Close();
}

// The body bytes the server sent of NAME since the last reset; `reset`
// starts the count again.
inline unsigned long long SentBytes(const std::string& base, const std::string& name, bool reset = false) {
  CInternetSession session("test");
  auto answer = session.OpenURL(base + "/_control/sent" + (reset ? "?reset=1" : ""));
  std::string line;
  while (answer->ReadString(line)) {
    if (line.rfind(name + " ", 0) == 0) return std::stoull(line.substr(name.size() + 1));
  }
  return 0;
}

// The signature of the served file NAME made with the build's key ("served")
// or with a key nobody trusts ("other").
inline std::string ServerSignature(const std::string& base, const std::string& name, const char* key) {
  CInternetSession session("test");
  auto answer = session.OpenURL(base + "/_control/signature?name=" + name + "&key=" + key);
  std::string der(marlix::signature::kMaxDerBytes + 1, '\0');
  der.resize(answer->Read(der.data(), static_cast<unsigned>(der.size())));
  return der;
}

// How a signature beside a served file is wrong, for the rows that refuse it.
enum class BadSignature { kMissing, kOtherKey, kOtherFile, kCut, kGarbage };

// Puts NAME.sig on the server as `bad` says (kMissing: the file has none, the
// server answers 404); SignNormally puts the server's own signing back.
inline void SpoilSignature(const std::string& base, const std::string& name, BadSignature bad,
                           const std::string& other_file) {
  const std::string sig = name + marlix::signature::kSuffix;
  switch (bad) {
    case BadSignature::kMissing:
      SetFault(base, sig, "status=404");
      return;
    case BadSignature::kOtherKey:
      Serve(sig, ServerSignature(base, name, "other"));
      return;
    case BadSignature::kOtherFile:
      Serve(sig, ServerSignature(base, other_file, "served"));
      return;
    case BadSignature::kCut:
      Serve(sig, ServerSignature(base, name, "served").substr(0, 40));
      return;
    case BadSignature::kGarbage:
      Serve(sig, std::string(70, '\x30'));
      return;
  }
}
inline void SignNormally(const std::string& base, const std::string& name) {
  const std::string sig = name + marlix::signature::kSuffix;
  SetFault(base, sig, "");
  ::DeleteFileA((kServerState + "/root/" + sig).c_str());
}

}  // namespace marlix_test
