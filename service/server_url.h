// Where the service's HTTP server is: the base address chosen at build time,
// or the MARLIX_SERVER_URL environment variable when it is set.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "internet.h"

namespace marlix {

// The folder of the service's files on the server.
inline constexpr char kServicePath[] = "/zipcode/search/";

// The base address without a trailing slash, e.g. "http://127.0.0.1:8949".
std::string ServerBaseUrl();

// The address of one of the service's files: base + "/zipcode/search/" + name.
std::string ServiceFileUrl(std::string_view base, std::string_view name);
std::string ServiceFileUrl(std::string_view name);

// How the update routines reach the service.
struct ServiceAccess {
  std::string base_url = ServerBaseUrl();
  unsigned timeout_ms = kInternetDefaultTimeoutMs;  // connect and receive, each
};

// A session that reaches the service as `access` says (its connect and
// receive time-outs); `agent` names the program to the server. Throws
// CInternetException.
std::unique_ptr<CInternetSession> OpenServiceSession(const ServiceAccess& access, const std::string& agent);

}  // namespace marlix
