#pragma once

namespace orbv {

enum LogLevel { LOG_TRACE = 1, LOG_ERROR = 3 };

// Writes one line to standard error: the formatted text and a newline, nothing else.
// The level names the severity for the reader of the code; it does not change the output.
int log_message(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A text that may be absent, for %s: absent texts print as (null) on every C library.
inline const char* or_null(const char* text) { return text ? text : "(null)"; }

}  // namespace orbv
