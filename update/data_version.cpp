#include "data_version.h"

#include <memory>

#include "internet.h"
#include "update_texts.h"

namespace marlix {

namespace {

constexpr unsigned kPanelReadBuffer = 4096;

}  // namespace

std::string ReadDataVersionText(CInternetFile& file) {
  std::string text;
  std::string line;
  while (file.ReadString(line)) {
    text += line;
    text += "\r\n";
  }
  return text;
}

DataVersion FetchDataVersion(const ServiceAccess& access, const std::function<void(const std::string&)>& status) {
  auto tell = [&](const char* text) {
    if (status) status(text);
  };
  tell(kTextConnectingPanel);
  DataVersion version;
  try {
    CInternetSession session(kDataVersionAgent);
    session.SetTimeouts(access.timeout_ms, access.timeout_ms);
    // Only shown, never stored or acted on: the panel takes it unsigned.
    std::unique_ptr<CInternetFile> file = session.OpenURL(ServiceFileUrl(access.base_url, kDataVersionFile));
    // An error page is not the data version; showing it as one would mislead.
    if (!AnsweredWithFile(*file)) {
      tell(kTextNetworkFailure);
      return version;
    }
    tell(kTextVersionShown);
    file->SetReadBufferSize(kPanelReadBuffer);
    version.text = ReadDataVersionText(*file);
    file->Close();
    session.Close();
  } catch (const CInternetException&) {
    // A version cut short is no version: the text box stays empty.
    tell(kTextNetworkFailure);
    version.text.clear();
    return version;
  }
  version.fetched = true;
  return version;
}

}  // namespace marlix
