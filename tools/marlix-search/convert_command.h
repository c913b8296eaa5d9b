// marlix-search convert: a list of addresses, or a column of a table, given
// each its postal code as CSV. Nothing leaves the machine.
#pragma once

#include <string>

// argv[0] is "convert"; returns the exit status.
int RunConvertCommand(int argc, char** argv, const std::string& default_data);
