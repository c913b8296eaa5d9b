// The names of the data set's files, for the programs, the download and the
// publisher alike.
#pragma once

namespace marlix {

inline constexpr char kPostcodeFile[] = "postcode.txt";    // the lines searched
inline constexpr char kCodeNamesFile[] = "post.csv";       // each code's names, and the sorted sign
inline constexpr char kDataVersionFile[] = "postver.txt";  // the text that says the data's version

// The whole set, in the order it is fetched and put in place: the version
// text last, since it tells users that new data is there.
inline constexpr const char* kDataFiles[] = {kCodeNamesFile, kPostcodeFile, kDataVersionFile};

// The signed list of an edition's files, installed with them: it says which
// set is in place, so it goes in last.
inline constexpr char kManifestFile[] = "manifest.txt";

}  // namespace marlix
