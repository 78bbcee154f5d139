#include "CliTestSupport.h"

#include <gtest/gtest.h>

#include <iterator>

#ifdef _WIN32
#include <windows.h>

#include <filesystem>

#include "DiskTestSupport.h"
#include "platform/Registry.h"
#endif

namespace kestrum::test {

#ifdef _WIN32
namespace {

std::wstring widened(const std::string& text) {
    return std::filesystem::u8path(text).wstring();
}

// Starts exe with the command line "exe arguments" and the test's registry store,
// stdin from NUL, stdout into a pipe whose reading end comes back in reader,
// stderr into errFile; returns the process, or nullptr when it did not start.
HANDLE startProgram(const std::string& exe, const std::string& arguments,
                    const std::string& registry, const std::string& errFile, HANDLE* reader) {
    const char* previous = std::getenv("KESTRUM_REGISTRY");
    const std::string saved = previous ? previous : "";
    setenv("KESTRUM_REGISTRY", registry.c_str(), 1);
    // Only the tool that reads a served file gets its faults.
    const std::string faults = servedReadFaults(arguments);
    if (!faults.empty()) setenv("KESTRUM_READ_FAULTS", faults.c_str(), 1);
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    CreatePipe(reader, &writeEnd, &inherit, 0);
    SetHandleInformation(*reader, HANDLE_FLAG_INHERIT, 0);
    const HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherit, OPEN_EXISTING, 0, nullptr);
    const HANDLE err = CreateFileW(widened(errFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                   &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = writeEnd;
    startup.hStdError = err;
    std::wstring commandLine = widened(shellQuote(exe) + " " + arguments);
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    CloseHandle(in);
    CloseHandle(err);
    if (!faults.empty()) unsetenv("KESTRUM_READ_FAULTS");
    if (previous)
        setenv("KESTRUM_REGISTRY", saved.c_str(), 1);
    else
        unsetenv("KESTRUM_REGISTRY");
    if (!started) {
        ADD_FAILURE() << "cannot start " << exe << " (error " << GetLastError() << ")";
        CloseHandle(*reader);
        *reader = nullptr;
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

// As startProgram, then collects stdout until the program ends; returns its exit code.
int runProgram(const std::string& exe, const std::string& arguments, const std::string& registry,
               const std::string& errFile, std::string* out) {
    HANDLE readEnd = nullptr;
    const HANDLE process = startProgram(exe, arguments, registry, errFile, &readEnd);
    if (!process) return -1;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0)
        if (out) out->append(buf, n);
    CloseHandle(readEnd);
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return static_cast<int>(code);
}

// Windows text ends lines with CR LF; the tests compare lines without the CR.
std::string withoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

}  // namespace

// Quoted for the C runtime of the started program: backslashes are literal
// except before a quote.
std::string shellQuote(const std::string& text) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (const char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

ToolEnvironment::ToolEnvironment() : registry_(home_.file("registry")) {
    runProgram(std::string(KESTRUM_BIN_DIR) + "/kestrum-register.exe", shellQuote(logs_.path()),
               registry_, home_.file("register.err"), nullptr);
}

ToolEnvironment::~ToolEnvironment() {
    // The store lives in the registry, not in the folder: it goes with the test.
    platform::Registry store(registry_);
    for (const auto root :
         {platform::RegistryRoot::ClassesRoot, platform::RegistryRoot::LocalMachine})
        for (const std::string& key : store.subKeys(root, "")) store.deleteKey(root, key);
}

std::string ToolEnvironment::commandLine(const std::string& arguments) const {
    return shellQuote(std::string(KESTRUM_BIN_DIR) + "/kestrum-recover.exe") + " " + arguments;
}

std::unique_ptr<PipedTool> ToolEnvironment::startPiped(const std::string& arguments) const {
    HANDLE reader = nullptr;
    const HANDLE process = startProgram(std::string(KESTRUM_BIN_DIR) + "/kestrum-recover.exe",
                                        arguments, registry_, home_.file("stderr"), &reader);
    return process ? std::make_unique<PipedTool>(process, reader) : nullptr;
}

PipedTool::~PipedTool() {
    closeReader();
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, INFINITE);
    }
    CloseHandle(process_);
}

std::string PipedTool::readLine() {
    std::string line;
    char c = 0;
    DWORD n = 0;
    while (reader_ && ReadFile(reader_, &c, 1, &n, nullptr) && n == 1 && c != '\n')
        if (c != '\r') line += c;
    return line;
}

void PipedTool::closeReader() {
    if (reader_) CloseHandle(reader_);
    reader_ = nullptr;
}

int PipedTool::waitFor(std::chrono::milliseconds limit) {
    if (WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

ToolRun ToolEnvironment::run(const std::string& arguments, const std::string& prefix) const {
    if (!prefix.empty()) ADD_FAILURE() << "a shell prefix needs a POSIX shell: " << prefix;
    const std::string errFile = home_.file("stderr");
    ToolRun result;
    result.exitCode = runProgram(std::string(KESTRUM_BIN_DIR) + "/kestrum-recover.exe", arguments,
                                 registry_, errFile, &result.out);
    result.out = withoutCarriageReturns(result.out);
    const auto err = readFile(errFile);
    result.err = withoutCarriageReturns({err.begin(), err.end()});
    return result;
}
#else
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

ToolEnvironment::~ToolEnvironment() = default;

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
#endif

std::string ToolEnvironment::activityLog() const {
    const auto bytes = readFile(logs_.file("Activity Log.txt"));
    return {bytes.begin(), bytes.end()};
}

std::string ToolEnvironment::recoveryLog() const {
    const auto bytes = readFile(logs_.file("Recovery Log.txt"));
    return {bytes.begin(), bytes.end()};
}

}  // namespace kestrum::test
