#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "api/error_codes.h"
#include "orbv.h"

// The JSON documents that carry every outcome to the host.
namespace orbv {

// Every document lives in a heap buffer of this size; longer texts are cut, NUL-terminated.
constexpr size_t DOCUMENT_SIZE = 10240;

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using Document = std::unique_ptr<char, FreeDeleter>;

// Doubles every backslash, then puts a backslash before every double quote; a control
// character becomes \n, \r, \t or \u00XX. Null gives "".
std::string json_escape(const char* path);

// For the texts an analysis takes from the file itself (maker, model, software, date), which a
// hostile file may fill with anything: json_escape's two substitutions, and every control
// character as \u00XX, so that no file can break or extend the host's document. Null gives
// "(null)", as C formatting prints a null text.
std::string json_escape_text(const char* text);

// Formats into `buffer` (DOCUMENT_SIZE bytes) with truncation.
void format_into(char* buffer, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Formats into a fresh DOCUMENT_SIZE buffer; null when it cannot be allocated.
Document format_document(const char* format, ...) __attribute__((format(printf, 1, 2)));

Document movie_error_json(const char* movie_path, const char* errstr, const char* api_errstr,
                          int32_t errnum, int32_t api_errnum);
Document audio_error_json(const char* movie_path, const char* audio_path, const char* errstr,
                          const char* api_errstr, int32_t errnum, int32_t api_errnum);
Document export_error_json(const char* movie_path1, const char* movie_path2,
                           const char* export_path, const char* errstr, const char* api_errstr,
                           int32_t errnum, int32_t api_errnum);

// Error documents for a code of the table.
inline Document movie_error_json(const char* movie_path, ErrorCode code, const char* api_errstr,
                                 int32_t api_errnum) {
    return movie_error_json(movie_path, code.errstr, api_errstr, code.errnum, api_errnum);
}
inline Document audio_error_json(const char* movie_path, const char* audio_path, ErrorCode code,
                                 const char* api_errstr, int32_t api_errnum) {
    return audio_error_json(movie_path, audio_path, code.errstr, api_errstr, code.errnum,
                            api_errnum);
}
inline Document export_error_json(const char* movie_path1, const char* movie_path2,
                                  const char* export_path, ErrorCode code, const char* api_errstr,
                                  int32_t api_errnum) {
    return export_error_json(movie_path1, movie_path2, export_path, code.errstr, api_errstr,
                             code.errnum, api_errnum);
}

// What an analysis result reports; null texts print as (null).
struct AnalysisFields {
    int32_t width = -1;
    int32_t height = -1;
    double duration = -1.0;
    int64_t frame_count = -1;
    const char* maker = nullptr;
    const char* model = nullptr;
    int32_t orientation = -1;
    int32_t capture_mode = -1;
    int64_t multi_capture = -1;
    int32_t camera_orientation = -1;
    const char* youtube360_maker = nullptr;
    bool is_target = false;
    bool created_thumbnail = false;
    const char* datetime = nullptr;
    const char* type = nullptr;  // "JPEG" or "MOVIE"
};
Document analysis_json(const char* movie_path, const char* thumbnail_path,
                       const AnalysisFields& fields);

Document audio_result_json(const char* movie_path, const char* audio_path);
Document audio_start_json(const char* movie_path, const char* audio_path, int64_t frame_count);
// The progress documents are formatted by the loops into a DOCUMENT_SIZE buffer they reuse.
void format_audio_progress(char* buffer, const char* movie_path, const char* audio_path,
                           int32_t frame_count);

// State 2 gives the result document, any other state the start document with frame_count.
Document export_result_json(const char* movie_path1, const char* movie_path2,
                            const char* export_path, int32_t state, int64_t frame_count);
void format_export_progress(char* buffer, const char* movie_path1, const char* movie_path2,
                            const char* export_path, int32_t frame_count);

// Shows the document to the callback (if any); the document is released on return.
void deliver(ProgressCallback callback, int32_t state, Document document);

}  // namespace orbv
