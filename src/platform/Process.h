// Starting a helper program (the probe) and waiting for it to end.
#pragma once

#include <string>
#include <vector>

namespace kestrum::platform {

// Runs program with argv (argv[0] included) and waits for it. Returns its exit
// status, or -1 when it could not be started or ended by a signal; error then
// says why. With errorOutput, what the program wrote to its standard error
// (the last 2 KiB) is kept there.
int runProgramAndWait(const std::string& program, const std::vector<std::string>& argv,
                      std::string* error = nullptr, std::string* errorOutput = nullptr);

}  // namespace kestrum::platform
