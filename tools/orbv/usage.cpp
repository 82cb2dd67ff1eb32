#include <cctype>
#include <sstream>
#include <vector>

#include "options.h"

// The text of a macro's value.
#define ORBV_TEXT_OF(macro) ORBV_TEXT(macro)
#define ORBV_TEXT(value) #value

namespace orbv_tool {

// Also the source of the man page (help2man): options are indented and start with a dash.
const char* usage_text() {
    return "Usage: orbv [OPTION]... COMMAND ARGUMENT... [COMMAND OPTION]...\n"
           "Analyse the files of a dual-lens 360-degree camera, stitch a shot into an\n"
           "equirectangular panorama or extract its sound, through liborbv.\n"
           "\n"
           "Commands:\n"
           "  analyze FILE... [ANALYZE OPTION]...\n"
           "      analyse JPEG stills and MOV/MP4 movies in one run: what each is, its\n"
           "      camera values, and whether it is a target, that is a file\n"
           "      from the supported camera, or a panorama orbv made.\n"
           "      One block per file, headed by its name; values the file lacks are left\n"
           "      out. A failed file is reported and the others go on. analyse is another\n"
           "      name of the command\n"
           "  export LENS1 LENS2 OUT [EXPORT OPTION]...\n"
           "      stitch the two lens files of one shot into an equirectangular panorama:\n"
           "      .mov for the viewer (PCM sound), .mp4 to share (AAC sound), .jpg for a\n"
           "      still pair\n"
           "  audio MOVIE OUT [--bit-rate N] [--cancel-file FILE]\n"
           "      write the movie's sound track to OUT: AAC for .m4a and .mp4, FLAC for\n"
           "      .flac, MP3 for .mp3, Opus for .opus and .ogg, 16-bit PCM for .wav, .mov\n"
           "      and other names FFmpeg can write it into; N in bits a second, also as\n"
           "      64k or 1.5M (0: the source's)\n"
           "  freesize PATH\n"
           "      free bytes of the volume holding PATH\n"
           "  help COMMAND\n"
           "      show the part of this help about COMMAND, as COMMAND --help does\n"
           "\n"
           "Analyze options:\n"
           "  -r                      analyse the JPEG and MOV/MP4 files below a directory\n"
           "      --thumbnail OUT     write the one file's thumbnail to OUT (.jpg)\n"
           "      --thumbnail-dir DIR write DIR/NAME.jpg for each file NAME.EXT; an existing\n"
           "                          one is kept without -y, and its file named as skipped\n"
           "      --width N           thumbnail N pixels wide before the picture's EXIF or\n"
           "                          display turn (0, the default: the source's width)\n"
           "      --fit N             thumbnail whose longer side, as shown, is N pixels\n"
           "      --force             write thumbnails for files of any camera, not only\n"
           "                          for targets\n"
           "\n"
           "Export options:\n"
           "      --width N           panorama width, a multiple of 4, up to 16384 for a\n"
           "                          movie and 32764 for a still (3840)\n"
           "      --height N          panorama height, even; a panorama is 2:1, so either\n"
           "                          option sets the other (1920)\n"
           "      --y-rotation DEG    turn the sphere about its Y axis, the horizontal axis\n"
           "                          through the panorama's quarter columns, in whole\n"
           "                          degrees (0). The centre column then looks DEG further\n"
           "                          down: the horizon bends into a wave, DEG higher at the\n"
           "                          centre and DEG lower at the left and right edges, still\n"
           "                          level at the quarter columns; 90 puts the ground at the\n"
           "                          centre. Negative DEG bends it the other way. It is no\n"
           "                          turn to the left or right. --yaw is an older name.\n"
           "      --roll1 DEG, --roll2 DEG\n"
           "                          turn each lens image about its centre (0)\n"
           "      --offsets1 Y,U,V, --offsets2 Y,U,V\n"
           "                          colour offsets per lens, added to samples of 0 to 255\n"
           "                          and clamped: -255 to 255 each\n"
           "                          (" ORBV_TEXT_OF(ORBV_OFFSET_UNCHANGED) ", the default: unchanged)\n"
           "      --start1 S, --start2 S, --end1 S, --end2 S\n"
           "                          trim times in seconds from each movie's first\n"
           "                          picture, both inclusive; a start of 0 or less: from\n"
           "                          the start, an end below 0: to the end (0, -1).\n"
           "                          A start at or past the movie's end, or an end\n"
           "                          before the start, is refused (30001 Trim Error\n"
           "                          InputFile1 or 2). Movies only\n"
           "      --audio-input 0|1   the sound of LENS1 (0) or of LENS2 (1) (0)\n"
           "      --band FILE         seam band image\n"
           "      --datetime TEXT     capture date in UTC, \"YYYY:MM:DD HH:MM:SS\" (the shot's:\n"
           "                          LENS1's own date, else its file's creation time,\n"
           "                          else now)\n"
           "      --cancel-file FILE  stop once this file exists (default: a private one)\n"
           "The lens files: two movies or two JPEG stills of one shot, of the same size,\n"
           "1440, 1936 or 3888 pixels wide, as the camera makes them. Other sizes are\n"
           "refused with 30001 \"Movie/Image width not in 3888 , 1936 , 1440\", lenses of\n"
           "different sizes with 30001 \"Movie/Image different width or height\".\n"
           "\n"
           "Options:\n"
           "  -y, --overwrite         replace an existing output, thumbnail or audio file;\n"
           "                          without it orbv refuses and touches nothing\n"
           "  -q, --quiet             no progress line and no log of liborbv or FFmpeg\n"
           "  -v, --verbose           the whole log of liborbv and FFmpeg's notes\n"
           "      --json              one line per callback on standard output,\n"
           "                          {\"state\":N,\"document\":{...}}, and no progress line;\n"
           "                          analyze: one line per file, the library's document\n"
           "                          with \"file\" and \"state\" first. A failure or refusal\n"
           "                          also carries orbv's line as \"message\"\n"
           "  -h, --help              show this help\n"
           "      --version           show the versions of orbv, liborbv, FFmpeg and OpenCV\n"
           "\n"
           "The progress of an export, an audio job or an analysis of more than 20 files\n"
           "goes to standard error, one line redrawn in place on a terminal and one line\n"
           "per report elsewhere. A failure ends with one line on standard error,\n"
           "\"orbv: FILE: WHAT HAPPENED (CODE MESSAGE: DETAIL)\", the library's own texts in\n"
           "the brackets; warnings start \"orbv: warning:\" and leave the exit status as it is.\n"
           "By default liborbv logs only its error lines and FFmpeg only its errors; -q, -v\n"
           "or an ORBV_LOG already set change that.\n"
           "\n"
           "Signals: the first SIGINT, SIGTERM or SIGHUP cancels an export or audio job\n"
           "through the cancel file (the job removes its output, orbv exits 3); a second is\n"
           "absorbed; a third stops orbv at once (exit 3): a file at the output's name stays\n"
           "as it was, the job's unfinished one as OUT.orbv-unfinished-XXXXXX.EXT.\n"
           "On Windows Ctrl+C, Ctrl+Break and closing the console count as these signals,\n"
           "the private cancel folder is in the user's temporary folder (GetTempPath, not\n"
           "TMPDIR), -q and -v leave FFmpeg's own messages at FFmpeg's level and --version\n"
           "names no FFmpeg or OpenCV version: orbv.dll exports only its four functions.\n"
           "\n"
           "Exit status: 0 done, 1 failed (analyze: any file), 2 usage error or unfit output\n"
           "(also an output name or panorama size the library refuses), 3 cancelled.\n"
           "\n"
           "Environment:\n"
           "  ORBV_LOG                liborbv's log: all, error or none (orbv: error)\n"
           "  ORBV_LIBRARY            the liborbv.so to load (default: the one installed\n"
           "                          with orbv, else the system's)\n"
           "  TMPDIR                  where the private cancel directory goes (/tmp)\n";
}

namespace {

// The lines of the help block that `title` opens, up to the blank line that ends it.
std::string block(const std::vector<std::string>& lines, const std::string& title) {
    std::string text;
    bool inside = false;
    for (const std::string& line : lines) {
        if (inside && line.empty()) break;
        if (inside) text += line + "\n";
        inside = inside || line == title;
    }
    return text;
}

}  // namespace

std::string command_usage(const std::string& command) {
    std::vector<std::string> lines;
    std::istringstream in(usage_text());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    // The command's entry: its synopsis and the lines indented below it.
    std::string synopsis, about;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].compare(0, command.size() + 3, "  " + command + " ") != 0) continue;
        synopsis = lines[i].substr(2);
        for (size_t j = i + 1; j < lines.size() && lines[j].compare(0, 6, "      ") == 0; ++j)
            about += lines[j].substr(4) + "\n";
        break;
    }
    std::string text = "Usage: orbv [OPTION]... " + synopsis + "\n" + about;
    // "Analyze options:" for analyze, and so on.
    std::string title = command + " options:";
    title[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(title[0])));
    const std::string options = block(lines, title);
    if (!options.empty()) text += "\n" + title + "\n" + options;
    return text + "\nOptions:\n" + block(lines, "Options:");
}

}  // namespace orbv_tool
