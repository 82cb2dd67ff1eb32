#include "version.h"

namespace orbv_tool {

namespace {

// FFmpeg's AV_VERSION_INT layout: major, minor and micro in one unsigned.
std::string dotted(unsigned version) {
    return std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xff) + "." +
           std::to_string(version & 0xff);
}

// "liborbv.so.0.1.0" -> "0.1.0"; a file named otherwise tells no version.
std::string version_of_file(const std::string& file) {
    const size_t at = file.rfind(".so.");
    if (at == std::string::npos) return "of unknown version";
    std::string version = file.substr(at + 4);
    if (version.find_first_not_of("0123456789.") != std::string::npos) return "of unknown version";
    return version;
}

// The FFmpeg that liborbv runs with: its release and the versions of its libraries.
std::string ffmpeg_text(const Library& library) {
    const auto info = library.find<const char* (*)()>("av_version_info");
    if (info == nullptr) return "FFmpeg of unknown version\n";
    std::string text = std::string("FFmpeg ") + info() + " (";
    const char* separator = "";
    for (const char* name : {"avutil", "avcodec", "avformat", "swscale", "swresample"}) {
        const auto version = library.find<unsigned (*)()>((std::string(name) + "_version").c_str());
        if (version == nullptr) continue;
        text += separator + std::string("lib") + name + " " + dotted(version());
        separator = ", ";
    }
    return text + ")\n";
}

// cv::getVersionMajor() and its siblings, by their C++ names.
std::string opencv_text(const Library& library) {
    using Part = int (*)();
    const auto major = library.find<Part>("_ZN2cv15getVersionMajorEv");
    const auto minor = library.find<Part>("_ZN2cv15getVersionMinorEv");
    const auto revision = library.find<Part>("_ZN2cv18getVersionRevisionEv");
    if (major == nullptr || minor == nullptr || revision == nullptr) {
        return "OpenCV of unknown version\n";
    }
    return "OpenCV " + std::to_string(major()) + "." + std::to_string(minor()) + "." +
           std::to_string(revision()) + "\n";
}

}  // namespace

std::string version_text(const Library* library, const std::string& load_error) {
    std::string text = "orbv " + std::to_string(ORBV_VERSION_MAJOR) + "." +
                       std::to_string(ORBV_VERSION_MINOR) + "." +
                       std::to_string(ORBV_VERSION_PATCH) + "\n";
    if (library == nullptr) return text + "liborbv not loaded: " + load_error + "\n";
    return text + "liborbv " + version_of_file(library->file) + " (" + library->file + ")\n" +
           ffmpeg_text(*library) + opencv_text(*library);
}

}  // namespace orbv_tool
