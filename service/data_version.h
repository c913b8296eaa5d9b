// The text of the server's data-version file, as the update panel shows it:
// CP949, as the data is.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "cp949_bytes.h"
#include "data_files.h"
#include "server_url.h"

class CInternetFile;

namespace marlix {

inline constexpr char kDataVersionAgent[] = "VERSION";

struct DataVersion {
  bool fetched = false;
  Cp949String text;  // each line of the file followed by CR LF; empty unless fetched
};

// The panel's text of a data-version file's body: each line without its CRs,
// followed by CR LF.
Cp949String DataVersionText(const Cp949View& body);

// Reads the whole body of a data-version file and returns the panel's text of
// it; nothing when the body has more than `max_bytes` (it stops reading there:
// an answer without end cannot grow the process).
std::optional<Cp949String> ReadDataVersionText(CInternetFile& file, std::uint64_t max_bytes);

// Fetches the data-version file and builds the panel's text. `status` gets
// the status line's texts in order; the caller repaints after each. A file of
// more than kMaxDataVersionBytes is a failure to fetch, like a broken one.
DataVersion FetchDataVersion(const ServiceAccess& access, const std::function<void(const std::string&)>& status);

}  // namespace marlix
