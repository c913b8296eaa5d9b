// `marlix-publish data`: Korea Post's 지역별 주소 DB into the service's three
// data files.
#pragma once

// argv[0] is "data". Returns the exit status.
int RunDataCommand(int argc, char** argv);

extern const char kDataUsage[];
