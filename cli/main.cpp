#include <string>
#include <vector>

#include "Cli.h"
#include "platform/Arguments.h"

int main(int argc, char** argv) {
    std::vector<std::string> args = kestrum::platform::commandLineArguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return kestrum::cli::run(static_cast<int>(args.size()), pointers.data());
}
