#include "platform/Arguments.h"

// Win32.h first: shellapi.h needs windows.h before it.
#include "platform/win32/Win32.h"

#include <shellapi.h>

namespace kestrum::platform {

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    // The narrow argv is in the ANSI code page, which cannot spell every name:
    // the wide command line can.
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(win32::narrow(wide[i], wcslen(wide[i])));
    LocalFree(wide);
    return out;
}

}  // namespace kestrum::platform
