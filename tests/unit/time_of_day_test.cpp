#include "platform/time_of_day.h"

#include <gtest/gtest.h>

namespace {

// A locale's strftime descriptions (T_FMT, T_FMT_AMPM, AM_STR, PM_STR) and the texts it gives.
struct FormatCase {
    const char* what;
    const char* timeFormat;
    const char* amPmFormat;
    const char* am;
    const char* pm;
    const char* at155308;  // 15:53:08
    const char* at090507;  // 09:05:07
    const char* at000000;  // midnight
};

TEST(TimeOfDay, TheLocalesDescriptionGivesHourMinutesSecondsAndMarker) {
    const std::vector<FormatCase> cases = {
        {"C", "%H:%M:%S", "%I:%M:%S %p", "AM", "PM", "15:53:08", "09:05:07", "00:00:00"},
        {"%T, no markers (de_DE)", "%T", "", "", "", "15:53:08", "09:05:07", "00:00:00"},
        {"letters between the fields (ja_JP)", "%H時%M分%S秒", "%p%I時%M分%S秒", "午前", "午後",
         "15:53:08", "09:05:07", "00:00:00"},
        {"%r: the 12-hour form, marker after (en_US)", "%r", "%I:%M:%S %p", "AM", "PM",
         "03:53:08 PM", "09:05:07 AM", "12:00:00 AM"},
        {"marker first, no gap", "%p%I時%M分%S秒", "", "午前", "午後", "午後03:53:08",
         "午前09:05:07", "午前12:00:00"},
        {"marker first with a blank (ko_KR style)", "%p %I시 %M분 %S초", "", "오전", "오후",
         "오후 03:53:08", "오전 09:05:07", "오전 12:00:00"},
        {"hour without zero, 12-hour (%l)", "%l:%M:%S %p", "", "am", "pm", "3:53:08 pm",
         "9:05:07 am", "12:00:00 am"},
        {"hour without zero, 24-hour (%-H)", "%-H:%M:%S", "", "", "", "15:53:08", "9:05:07",
         "0:00:00"},
        {"space-padded hour (%k) shows none", "%k:%M:%S", "", "", "", "15:53:08", "9:05:07",
         "0:00:00"},
        {"a dot as separator", "%H.%M.%S", "", "", "", "15.53.08", "09.05.07", "00.00.00"},
        {"alternative digits modifier (%OH)", "%OH:%OM:%OS", "", "", "", "15:53:08", "09:05:07",
         "00:00:00"},
        {"12-hour without markers", "%I:%M:%S", "", "", "", "03:53:08", "09:05:07", "12:00:00"},
        {"noon", "%r", "%I:%M:%S %p", "AM", "PM", nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const TimeFormat f = TimeFormatFrom(c.timeFormat, c.amPmFormat, c.am, c.pm);
        if (c.at155308 == nullptr) {
            EXPECT_EQ(FormatTimeOfDay(f, 12, 0, 1), "12:00:01 PM") << c.what;
            EXPECT_EQ(FormatTimeOfDay(f, 23, 59, 59), "11:59:59 PM") << c.what;
            continue;
        }
        EXPECT_EQ(FormatTimeOfDay(f, 15, 53, 8), c.at155308) << c.what;
        EXPECT_EQ(FormatTimeOfDay(f, 9, 5, 7), c.at090507) << c.what;
        EXPECT_EQ(FormatTimeOfDay(f, 0, 0, 0), c.at000000) << c.what;
    }
}

TEST(TimeOfDay, TheCurrentTimeHasTheFormatsShape) {
    const TimeFormat f = TimeFormatFrom("%H時%M分%S秒", "", "", "");
    const std::string now = LocalTimeOfDayText(f);
    ASSERT_EQ(now.size(), 8u) << now;
    EXPECT_EQ(now[2], ':');
    EXPECT_EQ(now[5], ':');
}

}  // namespace
