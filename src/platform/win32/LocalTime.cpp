#include "platform/LocalTime.h"

#include <time.h>

namespace kestrum::platform {

bool localTime(std::time_t t, std::tm& out) {
    return localtime_s(&out, &t) == 0;
}

std::string formatLocalTimeC(const char* format, std::time_t t) {
    // The Windows build has no window to set a locale: the C library stays in
    // the C locale the program starts in (msvcrt has no strftime with a locale).
    std::tm local{};
    if (!localTime(t, local)) return {};
    char text[128];
    const size_t n = std::strftime(text, sizeof text, format, &local);
    return std::string(text, n);
}

}  // namespace kestrum::platform
