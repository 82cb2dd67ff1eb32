#pragma once

namespace orbv {

// LOG_NOTE: something worth a line that is not a fault (a camera movie without its uuid XML).
enum LogLevel { LOG_TRACE = 1, LOG_NOTE = 2, LOG_ERROR = 3 };

// The lines start with the tag of the step that writes them: [libavIF::write_video],
// [libavIF::write_audio], [_ORBV_export], [_ORBV_export_analyze], [ORBV_analyze_movie],
// [ORBV_analyze_jpeg], [ORBVX_get_audio], [_ORBVX_get_audio], [.mov .mp4 analyze],
// [.jpeg analyze], [exif] and [metadata]. They name functions this code no longer has, but
// they are part of the library's log, which hosts and their support read as it always was;
// so they stay, spelling and all, wherever the step that writes them now lives.
//
// Writes one line to standard error: the formatted text and a newline, nothing else, and
// returns what writing the newline returned. The host may quiet it with the environment
// variable ORBV_LOG: "error" keeps only LOG_ERROR lines, "none" drops every line (result 0);
// unset or "all" writes every line. The level changes nothing else in the output.
int log_message(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A text that may be absent, for %s: absent texts print as (null) on every C library.
inline const char* or_null(const char* text) { return text ? text : "(null)"; }

}  // namespace orbv
