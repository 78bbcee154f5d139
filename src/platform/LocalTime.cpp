#include "platform/LocalTime.h"

#include <locale.h>
#include <time.h>

namespace kestrum::platform {

bool localTime(std::time_t t, std::tm& out) {
    return ::localtime_r(&t, &out) != nullptr;
}

std::string formatLocalTimeC(const char* format, std::time_t t) {
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t{});
    std::tm local{};
    if (!localTime(t, local)) return {};
    char text[128];
    const size_t n = ::strftime_l(text, sizeof text, format, &local, c);
    return std::string(text, n);
}

}  // namespace kestrum::platform
