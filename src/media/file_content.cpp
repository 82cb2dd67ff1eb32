#include "media/file_content.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "util/file_io.h"
#include "util/file_system.h"

namespace orbv {

namespace {

// Enough for the headers of every container the probe knows; FFmpeg's own first look is 2 KiB.
constexpr size_t kProbeBytes = 16 * 1024;

// The file's first `bytes` bytes at most; false when it cannot be opened or read.
bool read_head(const char* path, size_t bytes, std::vector<uint8_t>* head) {
    std::FILE* file = open_file(path, "rb");
    if (file == nullptr) return false;
    head->assign(bytes, 0);
    const size_t got = std::fread(head->data(), 1, bytes, file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    head->resize(got);
    return !failed;
}

bool jpeg_start(const std::vector<uint8_t>& head) {
    return head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

// "png_pipe" becomes "a PNG picture", "gif" "a GIF picture".
std::string picture_words(const char* format) {
    std::string name(format, std::strcspn(format, "_"));
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool vowel_sound = !name.empty() && std::strchr("AEFHILMNORSX", name[0]) != nullptr;
    return std::string(vowel_sound ? "an " : "a ") + name + " picture";
}

bool is_picture_format(const char* format) {
    const size_t length = std::strlen(format);
    return std::strcmp(format, "gif") == 0 || std::strcmp(format, "apng") == 0 ||
           (length > 5 && std::strcmp(format + length - 5, "_pipe") == 0);
}

FileContent by_name(const char* path) {
    const std::string extension = file_extension(path);
    if (is_jpeg_name(extension)) return {FileKind::kJpegPicture, ""};
    if (is_movie_name(extension)) return {FileKind::kMovie, ""};
    return {FileKind::kOther, "an unreadable file"};
}

}  // namespace

FileContent file_content(const char* path) {
    bool is_dir = false;
    if (file_size(path, &is_dir) >= 0 && is_dir) return {FileKind::kOther, "a directory"};
    std::vector<uint8_t> head;
    if (!read_head(path, kProbeBytes, &head)) return by_name(path);
    if (head.empty()) return {FileKind::kOther, "an empty file"};
    const size_t size = head.size();
    head.resize(size + AVPROBE_PADDING_SIZE, 0);
    // No name: the probe judges the bytes alone.
    AVProbeData probe{"", head.data(), static_cast<int>(size), nullptr};
    int score = 0;
    const AVInputFormat* format = av_probe_input_format3(&probe, 1, &score);
    // FFmpeg's own threshold for a first look: lower scores are guesses.
    if (format != nullptr && score <= AVPROBE_SCORE_RETRY) format = nullptr;
    if (format == nullptr) {
        if (jpeg_start(head)) return {FileKind::kJpegPicture, ""};
        return {FileKind::kOther, "not a media file"};
    }
    if (std::strcmp(format->name, "jpeg_pipe") == 0) return {FileKind::kJpegPicture, ""};
    if (is_picture_format(format->name)) return {FileKind::kOther, picture_words(format->name)};
    return {FileKind::kMovie, ""};
}

bool begins_as_jpeg(const char* path) {
    std::vector<uint8_t> head;
    return read_head(path, 3, &head) && jpeg_start(head);
}

const AVInputFormat* format_as_jpeg_name(const char* path) {
    // FFmpeg's own probe of an opened file: 2 KiB, doubled up to 1 MiB, until one demuxer is
    // more than a guess (in the last round, any score), each round on zeros past its bytes.
    constexpr int kFirst = 2048, kLast = 1 << 20;
    std::vector<uint8_t> head;
    if (!read_head(path, kLast, &head)) return nullptr;
    const int size = static_cast<int>(head.size());
    for (int probe_size = kFirst;; probe_size *= 2) {
        const bool last = probe_size >= kLast || probe_size >= size;
        const int used = std::min(probe_size, size);
        std::vector<uint8_t> padded(head.begin(), head.begin() + used);
        padded.resize(padded.size() + AVPROBE_PADDING_SIZE, 0);
        AVProbeData probe{"picture.jpg", padded.data(), used, nullptr};
        int score = last ? 0 : AVPROBE_SCORE_RETRY;
        if (const AVInputFormat* format = av_probe_input_format2(&probe, 1, &score)) return format;
        if (last) return nullptr;
    }
}

}  // namespace orbv
