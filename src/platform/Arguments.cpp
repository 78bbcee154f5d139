#include "platform/Arguments.h"

namespace kestrum::platform {

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);  // already UTF-8 bytes
}

}  // namespace kestrum::platform
