#include "CliTestSupport.h"

#include <iterator>

namespace kestrum::test {

std::string shellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

ToolEnvironment::ToolEnvironment() : registry_(home_.file("registry")) {
    const std::string command = "KESTRUM_REGISTRY=" + shellQuote(registry_) + " " +
                                shellQuote(std::string(KESTRUM_BIN_DIR) + "/kestrum-register") +
                                " " + shellQuote(logs_.path()) + " >/dev/null";
    runCommand(command);
}

std::string ToolEnvironment::commandLine(const std::string& arguments) const {
    return "KESTRUM_REGISTRY=" + shellQuote(registry_) +
           " XDG_RUNTIME_DIR=" + shellQuote(home_.path()) + " " +
           shellQuote(std::string(KESTRUM_BIN_DIR) + "/kestrum-recover") + " " + arguments;
}

ToolRun ToolEnvironment::run(const std::string& arguments, const std::string& prefix) const {
    const std::string errFile = home_.file("stderr");
    const std::string command =
        prefix + " " + commandLine(arguments) + " </dev/null 2>" + shellQuote(errFile);
    ToolRun result;
    result.exitCode = runCommand("sh -c " + shellQuote(command), &result.out);
    const auto err = readFile(errFile);
    result.err.assign(err.begin(), err.end());
    return result;
}

std::string ToolEnvironment::activityLog() const {
    const auto bytes = readFile(logs_.file("Activity Log.txt"));
    return {bytes.begin(), bytes.end()};
}

std::string ToolEnvironment::recoveryLog() const {
    const auto bytes = readFile(logs_.file("Recovery Log.txt"));
    return {bytes.begin(), bytes.end()};
}

}  // namespace kestrum::test
