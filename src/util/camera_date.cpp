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

// The calendar date of a day counted from 1970-01-01, the inverse of days_from_1970.
void date_of_day(int64_t days, int64_t* year, int64_t* month, int64_t* day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t day_of_era = days - era * 146097;
    const int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t shifted_month = (5 * day_of_year + 2) / 153;
    *day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    *month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    *year = year_of_era + era * 400 + (*month <= 2 ? 1 : 0);
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

std::string camera_date_from_seconds(int64_t seconds) {
    const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const int64_t in_day = seconds - days * 86400;
    int64_t year, month, day;
    date_of_day(days, &year, &month, &day);
    if (year < 0 || year > 9999) return "";
    char text[32];
    std::snprintf(text, sizeof(text), "%04d:%02d:%02d %02d:%02d:%02d", static_cast<int>(year),
                  static_cast<int>(month), static_cast<int>(day), static_cast<int>(in_day / 3600),
                  static_cast<int>(in_day / 60 % 60), static_cast<int>(in_day % 60));
    return text;
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
