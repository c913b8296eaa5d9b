// marlix-search update: fetches the data files from the service into the
// folder of the data file. The HTTP client is loaded by a program of its own,
// marlix-search-update, so that a search starts without it.
#pragma once

#include <string>

// What marlix-search runs for "update": hands the arguments over to
// marlix-search-update beside it. Returns only when that cannot start.
int StartUpdateCommand(int argc, char** argv, const std::string& data_file);

// The update itself, in marlix-search-update. argv[0] is "update";
// `data_file` is the data file the searches read by default, and the files go
// into its folder. Returns the exit status.
int RunUpdateCommand(int argc, char** argv, const std::string& data_file);
