// The publisher's key and signature commands of marlix-publish: keygen, sign,
// verify and release. Each takes its arguments with argv[0] the command's
// name and returns the exit status.
#pragma once

int RunKeygenCommand(int argc, char** argv);
int RunSignCommand(int argc, char** argv);
int RunVerifyCommand(int argc, char** argv);
int RunReleaseCommand(int argc, char** argv);

extern const char kKeygenUsage[];
extern const char kSignUsage[];
extern const char kVerifyUsage[];
extern const char kReleaseUsage[];
