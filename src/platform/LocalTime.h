// Moments as local time, and formatted the same under every locale (the C
// locale's English names, AM and PM), for logs, reports and maps.
#pragma once

#include <ctime>
#include <string>

namespace kestrum::platform {

// False when t cannot be told as a local time.
bool localTime(std::time_t t, std::tm& out);

// strftime() of t's local time in the C locale; empty when t cannot be converted.
std::string formatLocalTimeC(const char* format, std::time_t t);

}  // namespace kestrum::platform
