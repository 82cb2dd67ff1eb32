#include "util/camera_date.h"

#include <cstdio>
#include <ctime>

namespace orbv {

std::string camera_date_iso8601(const char* text) {
    static const char kForm[] = "dddd:dd:dd dd:dd:dd";
    if (text == nullptr) return "";
    for (size_t i = 0; i < sizeof(kForm); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return "";  // stops at either NUL
    }
    std::tm date{};
    if (std::sscanf(text, "%4d:%2d:%2d %2d:%2d:%2d", &date.tm_year, &date.tm_mon, &date.tm_mday,
                    &date.tm_hour, &date.tm_min, &date.tm_sec) != 6) {
        return "";
    }
    const std::tm asked = date;
    date.tm_year -= 1900;
    date.tm_mon -= 1;
    // timegm folds 31 April into 1 May: a date that changes on the way is no date.
    std::time_t seconds = timegm(&date);
    std::tm back{};
    if (gmtime_r(&seconds, &back) == nullptr || back.tm_year + 1900 != asked.tm_year ||
        back.tm_mon + 1 != asked.tm_mon || back.tm_mday != asked.tm_mday ||
        back.tm_hour != asked.tm_hour || back.tm_min != asked.tm_min ||
        back.tm_sec != asked.tm_sec) {
        return "";
    }
    char iso[80];  // room for any int the compiler sees
    std::snprintf(iso, sizeof(iso), "%04d-%02d-%02dT%02d:%02d:%02d.000000Z", asked.tm_year,
                  asked.tm_mon, asked.tm_mday, asked.tm_hour, asked.tm_min, asked.tm_sec);
    return iso;
}

}  // namespace orbv
