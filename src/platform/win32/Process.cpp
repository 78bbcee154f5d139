// Starting the probe with CreateProcessW and waiting for it.
#include "platform/Process.h"

#include <cstring>

#include "platform/win32/Win32.h"

namespace kestrum::platform {
using namespace win32;
namespace {

// One argument quoted as the C runtime of the started program splits it back:
// backslashes are literal except before a quote.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

std::string systemMessage(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = text ? narrow(text, wcslen(text)) : "error " + std::to_string(code);
    LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
        out.pop_back();
    return out;
}

}  // namespace

int runProgramAndWait(const std::string& program, const std::vector<std::string>& argv,
                      std::string* error, std::string* errorOutput) {
    std::wstring commandLine;
    for (const std::string& a : argv) {
        if (!commandLine.empty()) commandLine += L' ';
        commandLine += quoted(widen(a));
    }
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (errorOutput && CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = writeEnd;
    }
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(widen(program).c_str(), commandLine.data(), nullptr, nullptr,
                       writeEnd != nullptr, 0, nullptr, nullptr, &startup, &process);
    const DWORD startError = GetLastError();
    if (writeEnd) CloseHandle(writeEnd);
    if (readEnd) {
        // Read to the end before waiting, so a talkative program never blocks.
        std::string text;
        char chunk[512];
        DWORD n = 0;
        while (started && ReadFile(readEnd, chunk, sizeof chunk, &n, nullptr) && n > 0) {
            text.append(chunk, n);
            if (text.size() > 2048) text.erase(0, text.size() - 2048);
        }
        CloseHandle(readEnd);
        *errorOutput = text;
    }
    if (!started) {
        if (error) *error = "cannot start " + program + ": " + systemMessage(startError);
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    const bool known = GetExitCodeProcess(process.hProcess, &status) != 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!known) {
        if (error) *error = "cannot wait for " + program + ": " + systemMessage(GetLastError());
        return -1;
    }
    // An exception code (0xC0000005 ...) is how Windows tells a crash.
    if (status >= 0xC0000000u) {
        if (error) *error = program + " crashed (exception " + std::to_string(status) + ")";
        return -1;
    }
    return static_cast<int>(status);
}

}  // namespace kestrum::platform
