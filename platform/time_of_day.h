#pragma once

#include <string>

// The current local time of day in the locale's long time format (strftime "%X"), in the
// locale's encoding: no date, no time zone.
std::string LocalTimeOfDayText();
