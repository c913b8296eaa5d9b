// The folder that keeps the publisher's private key.
#pragma once

#include <string>

namespace marlix::publish {

// Makes `dir` (and the folders above it) for a private key, readable and
// enterable by its owner alone (0700). A folder that is there already is
// taken only when group and others have no access to it. False, and `why`
// set, otherwise.
bool MakePrivateFolder(const std::string& dir, std::string& why);

}  // namespace marlix::publish
