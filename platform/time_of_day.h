#pragma once

#include <string>
#include <string_view>

// How a locale writes the time of day: the hour, then minutes and seconds of two digits each,
// joined by one separator, with an AM/PM marker on a 12-hour clock.
struct TimeFormat {
    bool twelveHour = false;
    bool hourLeadingZero = true;
    std::string separator = ":";
    std::string am, pm;  // the markers of a 12-hour clock, in the locale's encoding
    bool markerFirst = false;
    std::string markerGap;  // what stands between the marker and the time ("" or " ")
};

// The format a locale's strftime descriptions give: `timeFormat` (T_FMT), `amPmFormat`
// (T_FMT_AMPM, which "%r" stands for) and the markers (AM_STR, PM_STR). The hour directive
// decides the clock (%H %k: 24-hour; %I %l: 12-hour) and the leading zero (none for %k, %l and
// glibc's "%-" flag). The text between the hour and the minutes is the separator, unless it is
// not punctuation ("%H時%M分%S秒"), where ":" stands in.
TimeFormat TimeFormatFrom(std::string_view timeFormat, std::string_view amPmFormat,
                          std::string_view am, std::string_view pm);

// A time of day (hour 0..23) as `format` writes it.
std::string FormatTimeOfDay(const TimeFormat& format, int hour, int minute, int second);

// The format of the process's current LC_TIME locale (nl_langinfo).
TimeFormat LocaleTimeFormat();

// The current local time of day in `format`: no date, no time zone.
std::string LocalTimeOfDayText(const TimeFormat& format);
