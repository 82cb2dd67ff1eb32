#include "api/documents.h"

#include <cstdarg>
#include <cstdio>

#include "util/log.h"

namespace orbv {

namespace {

void vformat_into(char* buffer, const char* format, va_list args) {
    // vsnprintf cuts at DOCUMENT_SIZE - 1 characters and always terminates.
    std::vsnprintf(buffer, DOCUMENT_SIZE, format, args);
}

const char* bool_word(bool value) { return value ? "true" : "false"; }

// Backslashes and double quotes escaped when `quotes` is set; every character below 0x20 as
// JSON's \n, \r or \t (with `short_forms`), else as \u00XX. A JSON parser rejects them raw.
std::string escape(const char* text, bool quotes, bool short_forms) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (quotes && (c == '\\' || c == '"')) {
            out += '\\';
            out += *p;
        } else if (c >= 0x20) {
            out += *p;
        } else if (short_forms && (c == '\n' || c == '\r' || c == '\t')) {
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            out += code;
        }
    }
    return out;
}

// errstr and api_errstr keep their quotes as they are; only control characters are escaped.
std::string message(const char* text) { return escape(or_null(text), false, true); }

}  // namespace

std::string json_escape(const char* path) {
    return path == nullptr ? std::string() : escape(path, true, true);
}

std::string json_escape_text(const char* text) {
    return text == nullptr ? "(null)" : escape(text, true, false);
}

void format_into(char* buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vformat_into(buffer, format, args);
    va_end(args);
}

Document format_document(const char* format, ...) {
    Document doc(static_cast<char*>(std::malloc(DOCUMENT_SIZE)));
    if (!doc) return doc;
    va_list args;
    va_start(args, format);
    vformat_into(doc.get(), format, args);
    va_end(args);
    return doc;
}

Document movie_error_json(const char* movie_path, const char* errstr, const char* api_errstr,
                          int32_t errnum, int32_t api_errnum) {
    return format_document(
        "{\"errnum\":\"%d\",\"errstr\":\"%s\",\"api_errnum\":%d,\"api_errstr\":\"%s\","
        "\"movie_path\":\"%s\"}",
        errnum, message(errstr).c_str(), api_errnum, message(api_errstr).c_str(),
        json_escape(movie_path).c_str());
}

Document audio_error_json(const char* movie_path, const char* audio_path, const char* errstr,
                          const char* api_errstr, int32_t errnum, int32_t api_errnum) {
    return format_document(
        "{\"errnum\":\"%d\",\"errstr\":\"%s\",\"api_errnum\":%d,\"api_errstr\":\"%s\","
        "\"movie_path\":\"%s\",\"audio_path\":\"%s\"}",
        errnum, message(errstr).c_str(), api_errnum, message(api_errstr).c_str(),
        json_escape(movie_path).c_str(), json_escape(audio_path).c_str());
}

Document export_error_json(const char* movie_path1, const char* movie_path2,
                           const char* export_path, const char* errstr, const char* api_errstr,
                           int32_t errnum, int32_t api_errnum) {
    return format_document(
        "{\"errnum\":\"%d\",\"errstr\":\"%s\",\"api_errnum\":%d,\"api_errstr\":\"%s\","
        "\"movie_path1\":\"%s\",\"movie_path2\":\"%s\",\"export_path\":\"%s\"}",
        errnum, message(errstr).c_str(), api_errnum, message(api_errstr).c_str(),
        json_escape(movie_path1).c_str(), json_escape(movie_path2).c_str(),
        json_escape(export_path).c_str());
}

Document analysis_json(const char* movie_path, const char* thumbnail_path,
                       const AnalysisFields& f) {
    return format_document(
        "{\"width\":%d,\"height\":%d,\"duration\":%.3f,\"frame_count\":%lld,\"maker\":\"%s\","
        "\"model\":\"%s\",\"orientaion\":%d,\"capture_mode\":%d,\"multi_capture\":%lld,"
        "\"camera_orientation\":%d,\"youtube360_maker\":\"%s\",\"isTarget\":%s,"
        "\"createdThumbnail\":%s,\"movie_path\":\"%s\",\"thumbnail_path\":\"%s\","
        "\"datetime\":\"%s\",\"type\":\"%s\"}",
        f.width, f.height, f.duration, static_cast<long long>(f.frame_count),
        json_escape_text(f.maker).c_str(), json_escape_text(f.model).c_str(), f.orientation,
        f.capture_mode, static_cast<long long>(f.multi_capture), f.camera_orientation,
        json_escape_text(f.youtube360_maker).c_str(), bool_word(f.is_target),
        bool_word(f.created_thumbnail), json_escape(movie_path).c_str(),
        json_escape(thumbnail_path).c_str(), json_escape_text(f.datetime).c_str(), or_null(f.type));
}

Document audio_result_json(const char* movie_path, const char* audio_path) {
    return format_document("{\"movie_path\":\"%s\",\"audio_path\":\"%s\"}",
                           json_escape(movie_path).c_str(), json_escape(audio_path).c_str());
}

Document audio_start_json(const char* movie_path, const char* audio_path, int64_t frame_count) {
    return format_document("{\"movie_path\":\"%s\",\"audio_path\":\"%s\",\"frame_count\":%lld}",
                           json_escape(movie_path).c_str(), json_escape(audio_path).c_str(),
                           static_cast<long long>(frame_count));
}

void format_audio_progress(char* buffer, const char* movie_path, const char* audio_path,
                           int32_t frame_count) {
    format_into(buffer, "{\"movie_path\":\"%s\",\"audio_path\":\"%s\",\"frame_count\":%d}",
                json_escape(movie_path).c_str(), json_escape(audio_path).c_str(), frame_count);
}

Document export_result_json(const char* movie_path1, const char* movie_path2,
                            const char* export_path, int32_t state, int64_t frame_count) {
    const std::string p1 = json_escape(movie_path1);
    const std::string p2 = json_escape(movie_path2);
    const std::string out = json_escape(export_path);
    if (state == STATE_DONE) {
        return format_document(
            "{\"movie_path1\":\"%s\",\"movie_path2\":\"%s\",\"export_path\":\"%s\"}", p1.c_str(),
            p2.c_str(), out.c_str());
    }
    return format_document(
        "{\"movie_path1\":\"%s\",\"movie_path2\":\"%s\",\"export_path\":\"%s\","
        "\"frame_count\":%lld}",
        p1.c_str(), p2.c_str(), out.c_str(), static_cast<long long>(frame_count));
}

void format_export_progress(char* buffer, const char* movie_path1, const char* movie_path2,
                            const char* export_path, int32_t frame_count) {
    format_into(buffer,
                "{\"movie_path1\":\"%s\",\"movie_path2\":\"%s\",\"export_path\":\"%s\","
                "\"frame_count\":%d}",
                json_escape(movie_path1).c_str(), json_escape(movie_path2).c_str(),
                json_escape(export_path).c_str(), frame_count);
}

void deliver(ProgressCallback callback, int32_t state, Document document) {
    if (callback != nullptr && document) callback(state, document.get());
}

}  // namespace orbv
