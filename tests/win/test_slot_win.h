// Where a Windows test writes outside its Wine prefix. ctest runs these tests
// side by side, each in a slot with its own prefix, display, test server and
// scratch folder, which wine-run names in the environment; a test started
// outside a slot uses the build's own.
#pragma once

#include <cstdlib>
#include <string>

namespace marlix_test {

inline std::string FromEnvironment(const char* name, const char* otherwise) {
  const char* value = std::getenv(name);
  return value && *value ? value : otherwise;
}

// The slot's scratch folder, a Unix path.
inline const std::string kScratchDir = FromEnvironment("MARLIX_TEST_SCRATCH", MARLIX_TEST_BIN_DIR);

}  // namespace marlix_test
