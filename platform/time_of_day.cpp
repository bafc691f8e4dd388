#include "platform/time_of_day.h"

#include <ctime>

std::string LocalTimeOfDayText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%X", &local);
    return std::string(text, n);
}
