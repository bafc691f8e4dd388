#include "platform/time_of_day.h"

#include <langinfo.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

// One strftime directive or a run of literal text.
struct Piece {
    bool directive = false;
    char conversion = 0;  // for a directive: its letter
    bool noPad = false;   // glibc's "%-" or "%_" flag
    std::string text;     // for literal text
};

std::vector<Piece> Split(std::string_view format, std::string_view amPmFormat, int depth = 0) {
    std::vector<Piece> pieces;
    auto literal = [&](char c) {
        if (pieces.empty() || pieces.back().directive) pieces.push_back({});
        pieces.back().text += c;
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            literal(format[i]);
            continue;
        }
        Piece p;
        p.directive = true;
        ++i;
        while (i < format.size() && std::strchr("-_0^#", format[i]) != nullptr) {
            if (format[i] == '-' || format[i] == '_') p.noPad = true;
            ++i;
        }
        while (i < format.size() && (format[i] == 'E' || format[i] == 'O')) ++i;
        if (i == format.size()) break;
        p.conversion = format[i];
        // The composite directives stand for their parts.
        std::string_view expansion;
        if (p.conversion == 'T') expansion = "%H:%M:%S";
        if (p.conversion == 'R') expansion = "%H:%M";
        if (p.conversion == 'r') expansion = amPmFormat.empty() ? "%I:%M:%S %p" : amPmFormat;
        if (p.conversion == '%') {
            literal('%');
        } else if (!expansion.empty() && depth < 2) {
            for (Piece& q : Split(expansion, amPmFormat, depth + 1)) pieces.push_back(std::move(q));
        } else {
            pieces.push_back(p);
        }
    }
    return pieces;
}

bool IsPunctuation(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text)
        if (!std::ispunct(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string TwoDigits(int n) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", n);
    return text;
}

}  // namespace

TimeFormat TimeFormatFrom(std::string_view timeFormat, std::string_view amPmFormat,
                          std::string_view am, std::string_view pm) {
    TimeFormat format;
    format.am = std::string(am);
    format.pm = std::string(pm);
    const std::vector<Piece> pieces = Split(timeFormat, amPmFormat);
    std::size_t hour = pieces.size(), marker = pieces.size();
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (!pieces[i].directive) continue;
        const char c = pieces[i].conversion;
        if (hour == pieces.size() && std::strchr("HkIl", c) != nullptr) {
            hour = i;
            format.twelveHour = c == 'I' || c == 'l';
            format.hourLeadingZero = !pieces[i].noPad && (c == 'H' || c == 'I');
        }
        if (marker == pieces.size() && (c == 'p' || c == 'P')) marker = i;
    }
    if (hour + 2 < pieces.size() && !pieces[hour + 1].directive && pieces[hour + 2].directive &&
        pieces[hour + 2].conversion == 'M' && IsPunctuation(pieces[hour + 1].text))
        format.separator = pieces[hour + 1].text;
    if (format.twelveHour && marker < pieces.size()) {
        format.markerFirst = marker < hour;
        // The blank between the marker and the time, when there is one.
        const std::size_t between = format.markerFirst ? marker + 1 : marker - 1;
        if (between < pieces.size() && !pieces[between].directive &&
            pieces[between].text.find(' ') != std::string::npos)
            format.markerGap = " ";
    } else if (format.twelveHour) {
        format.am.clear();
        format.pm.clear();
    }
    return format;
}

std::string FormatTimeOfDay(const TimeFormat& format, int hour, int minute, int second) {
    int shownHour = hour;
    if (format.twelveHour) shownHour = hour % 12 == 0 ? 12 : hour % 12;
    std::string text = format.hourLeadingZero ? TwoDigits(shownHour) : std::to_string(shownHour);
    text += format.separator + TwoDigits(minute) + format.separator + TwoDigits(second);
    if (!format.twelveHour) return text;
    const std::string& marker = hour < 12 ? format.am : format.pm;
    if (marker.empty()) return text;
    return format.markerFirst ? marker + format.markerGap + text : text + format.markerGap + marker;
}

TimeFormat LocaleTimeFormat() {
    return TimeFormatFrom(nl_langinfo(T_FMT), nl_langinfo(T_FMT_AMPM), nl_langinfo(AM_STR),
                          nl_langinfo(PM_STR));
}

std::string LocalTimeOfDayText(const TimeFormat& format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return FormatTimeOfDay(format, local.tm_hour, local.tm_min, local.tm_sec);
}
