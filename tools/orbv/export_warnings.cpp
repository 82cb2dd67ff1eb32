#include "export_warnings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace orbv_tool {

namespace {

// The signatures of the picture formats a band is made in.
bool looks_like_picture(const std::string& path) {
    char head[12] = {};
    std::ifstream(path, std::ios::binary).read(head, sizeof(head));
    auto starts = [&](const char* magic, size_t size, size_t at = 0) {
        return std::memcmp(head + at, magic, size) == 0;
    };
    // TIFF's byte-order mark, then 42 in that byte order.
    static const char kTiffIntel[] = {'I', 'I', 42, 0}, kTiffMotorola[] = {'M', 'M', 0, 42};
    return starts("\xFF\xD8\xFF", 3) || starts("\x89PNG", 4) || starts("BM", 2) ||
           starts("GIF8", 4) || starts(kTiffIntel, 4) || starts(kTiffMotorola, 4) ||
           (starts("RIFF", 4) && starts("WEBP", 4, 8));
}

// Seconds of an input that the export reads, its trim window applied.
double span(const LensFacts& lens, float start, float end) {
    const double last = end < 0 ? lens.duration : std::min<double>(end, lens.duration);
    return std::max(0.0, last - start);
}

}  // namespace

void warn_about_export(const ExportArgs& args, const LensFacts& lens1, const LensFacts& lens2) {
    if (args.band && !looks_like_picture(*args.band)) {
        std::fprintf(stderr, "orbv: warning: %s: not a picture; the panorama gets no band\n",
                     args.band->c_str());
    }
    if (!lens1.analysed || !lens2.analysed || lens1.frames == 0 || lens2.frames == 0) return;
    const double span1 = span(lens1, args.start1, args.end1);
    const double span2 = span(lens2, args.start2, args.end2);
    // An empty window fails the export, which says why.
    if (span1 == 0.0 || span2 == 0.0 || std::fabs(span1 - span2) < 0.0005) return;
    const bool first_shorter = span1 < span2;
    std::fprintf(stderr, "orbv: warning: %s is %.3f s shorter than %s; the panorama ends with it\n",
                 (first_shorter ? args.lens1 : args.lens2).c_str(), std::fabs(span1 - span2),
                 (first_shorter ? args.lens2 : args.lens1).c_str());
}

std::string window_past_end(const ExportArgs& args, const LensFacts& lens1,
                            const LensFacts& lens2) {
    const struct {
        const std::string& path;
        const LensFacts& lens;
        float start;
    } windows[] = {{args.lens1, lens1, args.start1}, {args.lens2, lens2, args.start2}};
    for (const auto& w : windows) {
        if (!w.lens.analysed || w.lens.frames == 0 || w.start < w.lens.duration) continue;
        char text[128];
        std::snprintf(text, sizeof(text),
                      ": the window starts at %.3f s, after the input's end at %.3f s", w.start,
                      w.lens.duration);
        return w.path + text;
    }
    return "";
}

}  // namespace orbv_tool
