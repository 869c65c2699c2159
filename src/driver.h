// The command line: iconweld <bitmap 1> .. <bitmap n> <outfile>.
#ifndef ICONWELD_DRIVER_H_
#define ICONWELD_DRIVER_H_

#include <cstdio>

// Exit statuses.
constexpr int kExitSuccess = 0;  // every input converted, output closed without error
constexpr int kExitFailure = 1;  // an input was skipped or refused, or the output failed
constexpr int kExitUsage = 2;

// Runs one conversion: converts the inputs named by argv[1] .. argv[argc - 2] into the family
// file argv[argc - 1], printing every message on messages. Returns the exit status.
int run_iconweld(int argc, const char* const* argv, std::FILE* messages);

#endif  // ICONWELD_DRIVER_H_
