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

// Days from 1970-01-01 to a calendar date, counted without the C library, whose UTC conversion
// Windows lacks before 1970.
int64_t days_from_1970(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

}  // namespace

bool camera_date_seconds(const char* text, int64_t* seconds) {
    static const char kForm[] = "dddd:dd:dd dd:dd:dd";
    if (text == nullptr) return false;
    for (size_t i = 0; i < sizeof(kForm); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return false;  // stops at either NUL
    }
    int year, month, day, hour, minute, second;
    if (std::sscanf(text, "%4d:%2d:%2d %2d:%2d:%2d", &year, &month, &day, &hour, &minute,
                    &second) != 6) {
        return false;
    }
    // A date the calendar would fold into another (31 April, 24:00, second 60) is no date.
    if (!is_calendar_date(year, month, day) || hour > 23 || minute > 59 || second > 59)
        return false;
    *seconds = days_from_1970(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

std::string camera_date_iso8601(const char* text) {
    int64_t seconds;
    if (!camera_date_seconds(text, &seconds)) return "";
    // Years of four digits: the text and the seconds name the same calendar day.
    char iso[32];
    std::snprintf(iso, sizeof(iso), "%.4s-%.2s-%.2sT%.2s:%.2s:%.2s.000000Z", text, text + 5,
                  text + 8, text + 11, text + 14, text + 17);
    return iso;
}

}  // namespace orbv
