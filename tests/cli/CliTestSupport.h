// Runs the built command-line tool as a user would, with a registry store and
// log folder of the test's own.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "TestSupport.h"

namespace kestrum::test {

#ifdef _WIN32
// The tool running with its standard output into a pipe that the test reads and
// may close, as a pager does; killed if it still runs when the object goes.
class PipedTool {
public:
    PipedTool(void* process, void* reader) : process_(process), reader_(reader) {}
    ~PipedTool();
    PipedTool(const PipedTool&) = delete;
    PipedTool& operator=(const PipedTool&) = delete;
    // The next line, its CR LF taken off; empty at the end of the output.
    std::string readLine();
    void closeReader();
    // The exit code once the tool ended within limit, else -1.
    int waitFor(std::chrono::milliseconds limit);

private:
    void* process_;
    void* reader_;
};
#endif

struct ToolRun {
    int exitCode = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

class ToolEnvironment {
public:
    ToolEnvironment();
    ~ToolEnvironment();
    ToolEnvironment(const ToolEnvironment&) = delete;
    ToolEnvironment& operator=(const ToolEnvironment&) = delete;
    // Runs "kestrum-recover <arguments>" (arguments already shell-quoted where
    // needed) with stdin from /dev/null; prefix runs before it in the same shell
    // ("ulimit -f 64;"), which only Linux has. On Windows the output comes without
    // the CR of its line ends.
    ToolRun run(const std::string& arguments, const std::string& prefix = {}) const;
    // The shell command that run() uses, for tests that start the tool themselves.
    std::string commandLine(const std::string& arguments) const;
#ifdef _WIN32
    std::unique_ptr<PipedTool> startPiped(const std::string& arguments) const;
#endif
    std::string activityLog() const;
    std::string recoveryLog() const;
    const TempDir& logs() const {
        return logs_;
    }

private:
    TempDir home_, logs_;
    std::string registry_;
};

std::string shellQuote(const std::string& text);

}  // namespace kestrum::test
