#include "util/camera_date.h"

#include <cstdio>

namespace orbv {

namespace {

// The proleptic Gregorian calendar, as the C library's UTC conversions count it.
bool is_calendar_date(int year, int month, int day) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

}  // namespace

std::string camera_date_iso8601(const char* text) {
    static const char kForm[] = "dddd:dd:dd dd:dd:dd";
    if (text == nullptr) return "";
    for (size_t i = 0; i < sizeof(kForm); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return "";  // stops at either NUL
    }
    int year, month, day, hour, minute, second;
    if (std::sscanf(text, "%4d:%2d:%2d %2d:%2d:%2d", &year, &month, &day, &hour, &minute,
                    &second) != 6) {
        return "";
    }
    // A date the calendar would fold into another (31 April, 24:00, second 60) is no date.
    if (!is_calendar_date(year, month, day) || hour > 23 || minute > 59 || second > 59) return "";
    char iso[80];  // room for any int the compiler sees
    std::snprintf(iso, sizeof(iso), "%04d-%02d-%02dT%02d:%02d:%02d.000000Z", year, month, day, hour,
                  minute, second);
    return iso;
}

}  // namespace orbv
