#include "server_url.h"

#include <cstdlib>

#ifndef MARLIX_SERVER_URL
#error "the build gives the service's base address as MARLIX_SERVER_URL"
#endif

namespace marlix {

std::string ServerBaseUrl() {
  const char* configured = std::getenv("MARLIX_SERVER_URL");
  std::string base = configured != nullptr && *configured != '\0' ? configured : MARLIX_SERVER_URL;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

std::string ServiceFileUrl(std::string_view base, std::string_view name) {
  while (!base.empty() && base.back() == '/') base.remove_suffix(1);
  std::string url(base);
  url += kServicePath;
  url += name;
  return url;
}

std::string ServiceFileUrl(std::string_view name) { return ServiceFileUrl(ServerBaseUrl(), name); }

std::unique_ptr<CInternetSession> OpenServiceSession(const ServiceAccess& access, const std::string& agent) {
  auto session = std::make_unique<CInternetSession>(agent);
  session->SetTimeouts(access.timeout_ms, access.timeout_ms);
  return session;
}

}  // namespace marlix
