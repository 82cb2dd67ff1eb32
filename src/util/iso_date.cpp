#include "util/iso_date.h"

#include <cstdio>
#include <ctime>

#include "util/camera_date.h"

namespace orbv {

namespace {

struct IsoMoment {
    std::tm fields{};         // as written, tm_year and tm_mon as in the text
    long offset_seconds = 0;  // east of UTC
    int64_t seconds = 0;      // the fields read as UTC, from 1970
    bool has_zone = false;
};

// Reads `count` digits at *at into *value and moves past them.
bool digits(const char*& at, int count, int* value) {
    *value = 0;
    for (int i = 0; i < count; ++i, ++at) {
        if (*at < '0' || *at > '9') return false;
        *value = *value * 10 + (*at - '0');
    }
    return true;
}

bool literal(const char*& at, char c) { return *at == c ? (++at, true) : false; }

bool zone(const char*& at, IsoMoment* m) {
    if (*at == '\0') return true;
    m->has_zone = true;
    if (literal(at, 'Z')) return *at == '\0';
    const int sign = *at == '+' ? 1 : (*at == '-' ? -1 : 0);
    int hours = 0, minutes = 0;
    if (sign == 0 || !digits(++at, 2, &hours)) return false;
    if (*at != '\0') {
        literal(at, ':');
        if (!digits(at, 2, &minutes)) return false;
    }
    if (*at != '\0' || hours > 23 || minutes > 59) return false;
    m->offset_seconds = sign * (hours * 3600L + minutes * 60L);
    return true;
}

std::string camera_text(int year, int month, int day, int hour, int minute, int second) {
    if (year < 0 || year > 9999) return "";
    char text[32];
    std::snprintf(text, sizeof(text), "%04d:%02d:%02d %02d:%02d:%02d", year, month, day, hour,
                  minute, second);
    return text;
}

// The fields and zone of a well-formed text whose day and time exist.
bool parse(const char* text, IsoMoment* m) {
    if (text == nullptr) return false;
    std::tm& t = m->fields;
    const char* at = text;
    if (!digits(at, 4, &t.tm_year) || !literal(at, '-') || !digits(at, 2, &t.tm_mon) ||
        !literal(at, '-') || !digits(at, 2, &t.tm_mday) || !literal(at, 'T') ||
        !digits(at, 2, &t.tm_hour) || !literal(at, ':') || !digits(at, 2, &t.tm_min) ||
        !literal(at, ':') || !digits(at, 2, &t.tm_sec)) {
        return false;
    }
    if (literal(at, '.')) {
        int fraction = 0;
        if (!digits(at, 1, &fraction)) return false;
        while (*at >= '0' && *at <= '9') ++at;
    }
    if (!zone(at, m)) return false;
    // A day or time that does not exist (31 April, 24:00) is no date.
    return camera_date_seconds(
        camera_text(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec).c_str(),
        &m->seconds);
}

}  // namespace

std::string camera_date_as_written(const char* text) {
    IsoMoment m;
    if (!parse(text, &m)) return "";
    const std::tm& t = m.fields;
    return camera_text(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

std::string camera_date_in_utc(const char* text) {
    IsoMoment m;
    if (!parse(text, &m) || !m.has_zone) return "";
    return camera_date_from_seconds(m.seconds - m.offset_seconds);
}

}  // namespace orbv
