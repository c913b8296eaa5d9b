// What a release takes from the served folder into a new edition, each piece
// only once it is proven the publisher's: a manifest by its signature with
// the release key, a file by its bytes against the record that names it.
// Others may write that folder; what they put there is never signed anew.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "edition_files.h"
#include "manifest.h"
#include "served_folder.h"
#include "signing.h"

namespace marlix::publish {

// The keys whose signature makes a file there the publisher's: the release
// key, and during a key change the one the last release was signed with.
struct TrustedKeys {
  const signing::Key& release;
  const signing::Key* previous = nullptr;
  bool Verify(std::string_view bytes, std::string_view signature) const;
};

// The manifest at `path` in `served`, taken only when its signature beside
// it verifies with one of `keys` and it reads as the programs read it. Nothing, with
// `why` empty, when there is none.
std::optional<Manifest> SignedManifest(const Folder& served, const std::string& path, const TrustedKeys& keys,
                                       std::string& why);

// Why what `last` records, and a new edition would list again (its program,
// its files with every form), is no longer in `served` byte for byte; empty
// when all of it is.
std::string CarriedFault(const Folder& served, const Manifest& last, bool program, bool files);

// The newest of the `published` editions, up to kKeptEditions of them, as
// bases for deltas: each one's postcode.txt as its own signed manifest
// records it (or `last`, which names the last data edition's files), read
// from its gzip form within that record's sizes. An edition without such a
// record, or whose file is not the recorded one, is told on stderr.
std::vector<EarlierEdition> EarlierEditions(const Folder& served, const TrustedKeys& keys,
                                            const std::optional<Manifest>& last,
                                            const std::vector<std::uint64_t>& published);

}  // namespace marlix::publish
