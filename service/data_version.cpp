#include "data_version.h"

#include <memory>
#include <utility>

#include "data_download.h"
#include "internet.h"
#include "update_texts.h"

namespace marlix {

namespace {

constexpr unsigned kPanelReadBuffer = 4096;

}  // namespace

Cp949String DataVersionText(const Cp949View& version_file) {
  std::string_view body = version_file.bytes();
  std::string text;
  while (!body.empty()) {
    const std::size_t lf = body.find('\n');
    for (const char c : body.substr(0, lf)) {
      if (c != '\r') text.push_back(c);
    }
    text += "\r\n";
    body.remove_prefix(lf == std::string_view::npos ? body.size() : lf + 1);
  }
  return Cp949String(std::move(text));
}

std::optional<Cp949String> ReadDataVersionText(CInternetFile& file, std::uint64_t max_bytes) {
  std::string body;
  char block[kPanelReadBuffer];
  for (unsigned got = kPanelReadBuffer; got == kPanelReadBuffer;) {
    got = file.Read(block, kPanelReadBuffer);
    if (body.size() + got > max_bytes) return std::nullopt;
    body.append(block, got);
  }
  return DataVersionText(Cp949View(body));
}

DataVersion FetchDataVersion(const ServiceAccess& access, const std::function<void(const std::string&)>& status) {
  auto tell = [&](const char* text) {
    if (status) status(text);
  };
  tell(kTextConnectingPanel);
  DataVersion version;
  try {
    const std::unique_ptr<CInternetSession> session = OpenServiceSession(access, kDataVersionAgent);
    // Only shown, never stored or acted on: the panel takes it unsigned.
    std::unique_ptr<CInternetFile> file =
        session->OpenURL(ServiceFileUrl(access.base_url, kDataVersionFile), 0, internet::SmallFileDeadlineMs());
    // An error page is not the data version; showing it as one would mislead.
    if (!AnsweredWithFile(*file)) {
      tell(kTextNetworkFailure);
      return version;
    }
    // More than a version file may have is no version file: the read stops
    // there, and the panel shows nothing.
    std::optional<Cp949String> text = ReadDataVersionText(*file, kMaxDataVersionBytes);
    if (!text) {
      tell(kTextNetworkFailure);
      return version;
    }
    tell(kTextVersionShown);
    version.text = std::move(*text);
    file->Close();
    session->Close();
  } catch (const CInternetException&) {
    // A version cut short is no version: the text box stays empty.
    tell(kTextNetworkFailure);
    version.text = Cp949String();
    return version;
  }
  version.fetched = true;
  return version;
}

}  // namespace marlix
