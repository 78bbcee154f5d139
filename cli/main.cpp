#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Cli.h"
#include "platform/Arguments.h"

int main(int argc, char** argv) {
    std::vector<std::string> args = kestrum::platform::commandLineArguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    const int code = kestrum::cli::run(static_cast<int>(args.size()), pointers.data());
#ifdef _WIN32
    // Among the static destructors, winpthreads deletes the C++ runtime's thread key
    // and, under wine, may wait for its lock for ever after a thorough scan. Every
    // file, map, session and log line is written and closed by now, so the process
    // ends without them.
    std::fflush(nullptr);
    std::_Exit(code);
#endif
    return code;
}
