#pragma once

#include <string>

#include "util/ffmpeg_ptr.h"

// What a file holds, told by its first bytes as FFmpeg's probe reads them, whatever its name.
namespace orbv {

enum class FileKind {
    kJpegPicture,  // a JPEG picture, also a damaged one that begins as JPEG does
    kMovie,        // any container FFmpeg recognises that is no single picture
    kOther,        // neither
};

struct FileContent {
    FileKind kind = FileKind::kOther;
    std::string what;  // for kOther, what the file is: "a directory", "a PNG picture", ...
};

// A file that cannot be read is taken by its name (.jpg/.jpeg a picture, a movie name a
// movie), so that its reader reports why it cannot be read.
FileContent file_content(const char* path);

// Whether the file begins with a JPEG picture's start marker and another marker.
bool begins_as_jpeg(const char* path);

// The demuxer FFmpeg would choose for the file if it were named .jpg; null when none.
const AVInputFormat* format_as_jpeg_name(const char* path);

}  // namespace orbv
