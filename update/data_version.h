// The text of the server's data-version file, as the update panel shows it.
#pragma once

#include <functional>
#include <string>

#include "server_url.h"

class CInternetFile;

namespace marlix {

inline constexpr char kDataVersionFile[] = "postver.txt";
inline constexpr char kDataVersionAgent[] = "VERSION";

struct DataVersion {
  bool fetched = false;
  std::string text;  // each line of the file followed by CR LF; empty unless fetched
};

// The panel's text of a data-version file: each line followed by CR LF.
std::string ReadDataVersionText(CInternetFile& file);

// Fetches the data-version file and builds the panel's text. `status` gets
// the status line's texts in order; the caller repaints after each.
DataVersion FetchDataVersion(const ServiceAccess& access, const std::function<void(const std::string&)>& status);

}  // namespace marlix
