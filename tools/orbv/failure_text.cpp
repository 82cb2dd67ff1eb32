#include "failure_text.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "system_calls.h"

namespace orbv_tool {

namespace {

namespace fs = std::filesystem;

// Every writing call wants more than this free beyond the inputs it copies from.
constexpr long long kMinFreeBytes = 52428800;

// Unreadable: the first input that cannot be read. Size: the size options the user gave.
enum class Which { Input1, Input2, Output, Unreadable, Size };

// Plain words for a failure, chosen by the code's last four digits and pieces of its texts.
struct Rule {
    int code;
    const char* text_piece;  // "" matches any
    Which file;
    const char* words;           // null: worked out from the file system
    const char* api_piece = "";  // of api_errstr, "" matches any
};

const Rule kRules[] = {
    // The readers' and FFmpeg's system errors concern the input they read.
    {9999, "unknown error", Which::Unreadable, "permission denied", "Permission denied"},
    {9999, "unknown error", Which::Input1, "is a directory", "Is a directory"},
    {9999, "Thumbnail", Which::Input1, "damaged picture data", "Invalid data"},
    {9999, "Thumbnail", Which::Input1, "damaged picture data", "End of file"},
    {0, "file2", Which::Input2, "no such file"},
    {0, "", Which::Input1, "no such file"},
    {1, "Not Movie", Which::Input1, "neither a JPEG still nor a MOV/MP4 movie"},
    {1, "No Audio", Which::Input1, "the movie has no sound track"},
    {1, "Trim Error InputFile2", Which::Input2, "the trim window holds no picture"},
    {1, "Trim Error InputFile1", Which::Input1, "the trim window holds no picture"},
    {1, "width or height not supported", Which::Size, "the panorama size is not supported"},
    {1, "parameter out of range", Which::Output, "a setting is out of range"},
    {1, "InputFile2", Which::Input2, "cannot be analysed"},
    {1, "InputFile1", Which::Input1, "cannot be analysed"},
    {1, "different", Which::Input2, "not the size of the first lens's pictures"},
    {1, "width not in", Which::Input1, "not a lens picture of the camera (1440, 1936, 3888)"},
    {1, "", Which::Input1, "cannot be opened"},
    {3, "", Which::Output, nullptr},
    {4, "", Which::Output, nullptr},
    {9999, "rite", Which::Output, "writing it failed"},
    {9999, "", Which::Output, "the job failed"},
};

std::string directory_of(const std::string& path) {
    const fs::path parent = fs::u8path(path).parent_path();
    return parent.empty() ? "." : parent.u8string();
}

// Why an output cannot be written: its name, its directory or the file itself.
std::string not_writable(const std::string& output, const std::string& api_text) {
    const size_t must = api_text.find("must end in");
    if (must != std::string::npos) return "the output " + api_text.substr(must);
    const std::string dir = directory_of(output);
    std::error_code ec;
    if (!fs::is_directory(fs::u8path(dir), ec)) return "no such directory " + dir;
    if (!may_write_in(dir)) return "no permission to write in " + dir;
    return "cannot be written";
}

const std::string& which_file(Which which, const CommandFiles& files) {
    switch (which) {
        case Which::Input1:
            return files.input1;
        case Which::Input2:
            return files.input2;
        case Which::Unreadable:
            return !may_read(files.input1) || files.input2.empty() || may_read(files.input2)
                       ? files.input1
                       : files.input2;
        case Which::Size:
            return files.size_options.empty() ? files.output : files.size_options;
        default:
            return files.output;
    }
}

long long file_size(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(fs::u8path(path), ec);
    return ec ? 0 : static_cast<long long>(size);
}

// The space rule in numbers: what the volume has free and what the job needs.
std::string no_room(const CommandFiles& files, bool export_job) {
    long long needed = kMinFreeBytes;
    if (export_job) needed += file_size(files.input1) + file_size(files.input2);
    const long long free = files.free_bytes ? files.free_bytes(files.output.c_str()) : -1;
    std::string text = "not enough space: " + std::to_string(free) + " bytes free, more than " +
                       std::to_string(needed) + " needed";
    const std::string dir = directory_of(files.output);
    if (volume_stores_no_files(dir)) text = dir + " is on a volume that stores no files; " + text;
    return text;
}

}  // namespace

std::string failure_text(const Fields& document, const CommandFiles& files) {
    const std::string* errnum = find(document, "errnum");
    const std::string* errstr = find(document, "errstr");
    const std::string* api = find(document, "api_errstr");
    const std::string api_text = api ? *api : "";
    const int number = errnum ? std::atoi(errnum->c_str()) : 0;
    const std::string library = (errnum ? *errnum + " " : "") + (errstr ? *errstr : "") +
                                (api_text.empty() ? "" : ": " + api_text);
    // A window past its input's end is the cause of whatever failure the work then met.
    if ((number % 10000 == 1 || number % 10000 == 9999) && !files.window_note.empty())
        return files.window_note + " (" + library + ")";
    for (const Rule& rule : kRules) {
        if (number % 10000 != rule.code ||
            (errstr && errstr->find(rule.text_piece) == std::string::npos) ||
            api_text.find(rule.api_piece) == std::string::npos)
            continue;
        const std::string& file = which_file(rule.file, files);
        std::string words = rule.words ? rule.words : "";
        if (rule.code == 3) words = not_writable(file, api_text);
        if (rule.code == 4) words = no_room(files, !files.input2.empty());
        return (file.empty() ? files.input1 : file) + ": " + words + " (" + library + ")";
    }
    return files.input1 + ": " + library;
}

bool refuses_options(const Fields& document) {
    const std::string* errstr = find(document, "errstr");
    const std::string* api = find(document, "api_errstr");
    return (errstr && errstr->find("width or height not supported") != std::string::npos) ||
           (api && api->find("must end in") != std::string::npos);
}

}  // namespace orbv_tool
