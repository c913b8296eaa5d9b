// A service's manifest as the publisher writes one for a program release.
#pragma once

#include <cstdint>
#include <string>

#include "manifest.h"

namespace marlix_test {

// The text of a manifest of `edition` whose program record names `program`
// (its size and SHA-256) at `version`; without a version, no program record.
inline std::string ProgramManifest(std::uint64_t edition, const std::string& version, const std::string& program) {
  marlix::Manifest manifest;
  manifest.edition = edition;
  manifest.published = "2026-12-08";
  if (!version.empty()) {
    marlix::signature::Sha256 hash;
    hash.Add(program.data(), program.size());
    manifest.program = marlix::ManifestProgram{version, program.size(), hash.Finish().value()};
  }
  return marlix::ManifestText(manifest);
}

}  // namespace marlix_test
