// A program's command-line arguments as UTF-8, whatever the system's code page:
// a file name in any script reaches the engine as it was typed.
#pragma once

#include <string>
#include <vector>

namespace kestrum::platform {

// argv[0] included. Also sets the console to print UTF-8 where it has a code page.
std::vector<std::string> commandLineArguments(int argc, char** argv);

}  // namespace kestrum::platform
