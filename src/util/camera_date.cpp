#include "util/camera_date.h"

#include <cstdio>
#include <ctime>

namespace orbv {

bool camera_date_seconds(const char* text, int64_t* seconds) {
    static const char kForm[] = "dddd:dd:dd dd:dd:dd";
    if (text == nullptr) return false;
    for (size_t i = 0; i < sizeof(kForm); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return false;  // stops at either NUL
    }
    std::tm date{};
    if (std::sscanf(text, "%4d:%2d:%2d %2d:%2d:%2d", &date.tm_year, &date.tm_mon, &date.tm_mday,
                    &date.tm_hour, &date.tm_min, &date.tm_sec) != 6) {
        return false;
    }
    const std::tm asked = date;
    date.tm_year -= 1900;
    date.tm_mon -= 1;
    // timegm folds 31 April into 1 May: a date that changes on the way is no date.
    const std::time_t counted = timegm(&date);
    std::tm back{};
    if (gmtime_r(&counted, &back) == nullptr || back.tm_year + 1900 != asked.tm_year ||
        back.tm_mon + 1 != asked.tm_mon || back.tm_mday != asked.tm_mday ||
        back.tm_hour != asked.tm_hour || back.tm_min != asked.tm_min ||
        back.tm_sec != asked.tm_sec) {
        return false;
    }
    *seconds = counted;
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
