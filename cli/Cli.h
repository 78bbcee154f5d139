// The command-line tool: the engine without a window.
#pragma once

#include <string>
#include <vector>

namespace kestrum::cli {

// Exit codes.
constexpr int kExitDone = 0;
constexpr int kExitUsage = 1;    // usage or input error
constexpr int kExitStopped = 2;  // stopped by the user
constexpr int kExitFailed = 3;   // failed, for example a write error

int run(int argc, char** argv);

// Commands take the arguments after their own name.
int devicesCommand(const std::vector<std::string>& args);
int imageCommand(const std::vector<std::string>& args);
int scanCommand(const std::vector<std::string>& args);
int typesCommand(const std::vector<std::string>& args);

}  // namespace kestrum::cli
