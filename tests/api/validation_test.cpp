// Every failure a front end reports before or around its work, seen by a host: the exact document,
// one callback, a return of 0, inputs untouched, and an earlier file at the output's name kept or
// removed as the interface says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "support/export_call.h"
#include "support/fixtures.h"
#include "support/test_support.h"

namespace {

using namespace orbv_test;

struct Case {
    std::string what;
    char family;                // of the call, as call_family takes it
    std::string in1, in2, out;  // out: the thumbnail, the sound or the panorama
    std::string code, errstr, api_errnum = "-1", api_errstr = "";  // api_errnum "*": any < 0
    // An earlier file at `out`: 1 the call, failing before it opens its output, leaves it as it
    // was; 0 it is gone or as it was, never left changed; -1 none written.
    int earlier = -1;
    int32_t width = 64, height = 32;
    std::function<void(ExportArgs&)> set = nullptr;  // the export's other arguments
};

// /proc has no free blocks and, as root, passes the write-permission check: a full volume.
std::string still(const std::string& name, int width, int height) {
    const orbv_sample::CameraInfo camera;
    orbv_sample::write_still(fixture_file(name), orbv_sample::Picture(width, height, 120), &camera);
    return fixture_file(name);
}

std::vector<Case> cases(const TempDir& dir) {
    const std::string missing = dir.file("say \"hi\" \\ clip.mov"), nodir = dir.file("no-dir/o");
    const std::string ro = unwritable_directory(), full = full_volume();
    const std::string text = dir.file("clip.mov"), empty = dir.file("empty.jpg");
    write_file(text, "not a movie, only some text");
    write_file(empty, "");
    auto sound = [](const std::string& name, orbv_sample::Sound s) {
        return shot(name, 3, false, [s](auto& o) { o.lens_width = 64, o.sound = s; }).lens1;
    };
    const std::string silent = sound("silent", orbv_sample::Sound::None);
    const std::string pcm = sound("pcm", orbv_sample::Sound::Pcm);
    const orbv_sample::Shot& s = shot("still", 1, true);
    const std::string avi = dir.file("clip.avi"), big = dir.file("big.mov");
    write_file(avi, "RIFF");
    write_file(big, "");
    const auto free_bytes = std::filesystem::space(dir.path()).free;
    std::error_code no_sparse;  // Windows refuses a file that large: the row is left out there
    std::filesystem::resize_file(big, 2 * free_bytes, no_sparse);  // sparse: takes nothing
    const std::string clip = dir.file("c.mov");  // a movie with sound, with two more names
    std::filesystem::copy_file(pcm, clip);
    std::error_code no_links;  // Wine makes no symbolic links: their rows are left out there
    std::filesystem::create_symlink(clip, dir.file("link.mov"), no_links);
    std::filesystem::create_hard_link(clip, dir.file("hard.mov"));
    const std::string in1 = dir.file("in1.jpg"), link = dir.file("link.jpg");
    std::filesystem::copy_file(s.lens1, in1);
    std::filesystem::create_symlink(s.lens2, link, no_links);
    const std::string bad = "Invalid data found when processing input", invalid = "-1094995529";
    const std::string sizes = "[_ORBV_export_analyze]:size error ";
    const std::string analyze = "[_ORBV_export_analyze]:analyze error";
    const std::string audio_names =
        "[ORBVX_get_audio]:audio_path must end in .mp3 (MP3), .opus or .ogg (Opus), .m4a or .mp4 "
        "(AAC), .flac (FLAC), or .wav, .mov or another name FFmpeg writes 16-bit PCM into";

    std::vector<Case> c = {
        {"missing input first", '1', missing, "", nodir, "10000", "Input file not exiists"},
        {"missing input, thumbnail kept", '1', missing, "", dir.file("t.jpg"), "10000",
         "Input file not exiists", "-1", "", 1},
        {"thumbnail directory missing", '1', text, "", nodir, "10003", "tumbnail not writable"},
        {"thumbnail names the input", '1', in1, "", in1, "10003", "tumbnail not writable"},
        {"thumbnail links to the input", '1', s.lens2, "", link, "10003", "tumbnail not writable"},
        {"text movie", '1', text, "", dir.file("t.jpg"), "10001", "Not Movie & JPEG", "-1",
         "not a media file", 1},
        {"thumbnail not named .jpg", '1', s.lens1, "", dir.file("t.png"), "10003",
         "tumbnail not writable", "-1",
         "[ORBV_analyze_image]:thumbnail_path must end in .jpg or .jpeg", 1},
        {"missing movie, audio kept", '2', missing, "",
         dir.file(names_take_any_bytes() ? "out \"1\".wav" : "out 1.wav"), "20000",
         "Input file not exiists", "-1", "", 1},
        {"missing movie, null audio", '2', missing, "", kNull, "20000", "Input file not exiists"},
        {"audio directory missing", '2', text, "", nodir, "20003", "audio not writable"},
        {"audio names its movie", '2', clip, "", clip, "20003", "audio not writable"},
        {"audio names its movie through ./", '2', clip, "", dir.path() + "/./c.mov", "20003",
         "audio not writable"},
        {"audio links to its movie", '2', clip, "", dir.file("link.mov"), "20003",
         "audio not writable"},
        {"audio is a hard link of its movie", '2', clip, "", dir.file("hard.mov"), "20003",
         "audio not writable"},
        {"no sound stream", '2', silent, "", dir.file("a.wav"), "20001",
         "Movie Has No Audio Stream!!", "0", "", 1},
        {"no sound stream before null audio", '2', silent, "", kNull, "20001",
         "Movie Has No Audio Stream!!", "0"},
        {"null audio", '2', pcm, "", kNull, "20001", "Audio Path is NULL!!"},
        {"text movie", '2', text, "", dir.file("a.wav"), "20001", "Cold Not Open File", invalid,
         bad, 1},
        {"container without PCM", '2', pcm, "", dir.file("a.aac"), "20003", "audio not writable",
         "-1", audio_names, 1},
        {"container unknown", '2', pcm, "", dir.file("a.unknownext"), "20003", "audio not writable",
         "-1", audio_names, 1},
        {"both inputs missing", '3', missing, missing + "2", dir.file("o.mov"), "30000",
         "Input file1 not exiists", "-1", "", 1},
        {"input 2 missing", '3', text, missing, dir.file("o.mov"), "30000",
         "Input file2 not exiists", "-1", "", 1},
        {"missing input before output", '3', text, missing, nodir, "30000",
         "Input file2 not exiists"},
        {"null output", '3', text, text, kNull, "30003", "export file not writable"},
        {"output directory missing", '3', text, text, nodir, "30003", "export file not writable"},
        {"output names an input", '3', in1, s.lens2, in1, "30003", "export file not writable"},
        {"output links to an input", '3', in1, s.lens2, link, "30003", "export file not writable"},
        {"input 1 of neither kind", '3', avi, s.lens2, dir.file("o.mov"), "30001",
         "Analyze Error InputFile1", "-1", analyze, 1},
        {"input 2 of neither kind", '3', s.lens1, avi, dir.file("o.mov"), "30001",
         "Analyze Error InputFile2", "-1", analyze, 1},
        {"widths differ", '3', still("a.jpg", 1440, 1440), still("b.jpg", 1936, 1936),
         dir.file("o.jpg"), "30001", "Movie/Image different width or height", "-1",
         sizes + "width1:1440 width2:1936 height11440 height2:1936", 1},
        {"heights differ", '3', s.lens1, still("c.jpg", 1440, 720), dir.file("o.jpg"), "30001",
         "Movie/Image different width or height", "-1",
         sizes + "width1:1440 width2:1440 height11440 height2:720", 1},
        {"width not the camera's", '3', still("d.jpg", 2000, 2000), fixture_file("d.jpg"),
         dir.file("o.jpg"), "30001", "Movie/Image width not in 3888 , 1936 , 1440", "-1",
         sizes + "width:2000", 1},
    };
    // Sizes without whole 4:2:0 chroma planes, or that no encoder takes, are refused first.
    const std::string even = ": width and height must be even, at least 2";
    for (const auto& [w, h, limit] :
         {std::tuple{1441, 720, even},
          {1440, 721, even},
          {0, 720, even},
          {-1440, 720, even},
          {100000, 50000, std::string(": a still (JPEG) takes at most 32766 pixels a side")}}) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        c.push_back({"output " + size, '3', s.lens1, s.lens2, dir.file("o.jpg"), "30001",
                     "Export width or height not supported", "-1",
                     "[_ORBV_export]:size " + size + limit, 1, w, h});
    }
    const orbv_sample::Shot& m = shot("movie", 3);
    c.push_back({"movie output 100000 wide", '3', m.lens1, m.lens2, dir.file("o.mov"), "30001",
                 "Export width or height not supported", "-1",
                 "[_ORBV_export]:size 100000x50000: a movie (H.264) takes at most 16384 pixels a "
                 "side",
                 1, 100000, 50000});
    // Numbers that give no panorama, and dates a movie's headers cannot carry, are refused last.
    const std::string finite = " must be a finite number",
                      dates =
                          "datetime of a movie must lie in "
                          "1970:01:01 00:00:00..2040:02:06 06:28:15";
    const std::string offset = " must lie in -255..255 or be -99999999 (unchanged)";
    using Set = std::function<void(ExportArgs&)>;
    for (const auto& [name, set, api, movie] :
         std::vector<std::tuple<std::string, Set, std::string, bool>>{
             {"lens1_roll_degrees", [](ExportArgs& a) { a.roll1 = NAN; }, finite, false},
             {"lens2_roll_degrees", [](ExportArgs& a) { a.roll2 = -INFINITY; }, finite, false},
             {"end_time2", [](ExportArgs& a) { a.end2 = INFINITY; }, finite, false},
             {"u_offset1", [](ExportArgs& a) { a.offsets1[1] = 256; }, offset, false},
             {"v_offset2", [](ExportArgs& a) { a.offsets2[2] = -256; }, offset, false},
             {"", [](ExportArgs& a) { a.datetime = "1969:12:31 23:59:59"; }, dates, true},
             {"", [](ExportArgs& a) { a.datetime = "2040:02:06 06:28:16"; }, dates, true}}) {
        c.push_back({name + api, '3', movie ? m.lens1 : s.lens1, movie ? m.lens2 : s.lens2,
                     dir.file(movie ? "o.mp4" : "o.jpg"), "30001", "Export parameter out of range",
                     "-1", "[_ORBV_export]:" + name + api, 1});
        c.back().set = set;
    }
    // The pair is what the inputs hold: movies named .jpg are a movie pair, a JPEG named .mov
    // with a JPEG a still pair.
    const std::string named1 = dir.file("m1.jpg"), named2 = dir.file("m2.jpg");
    const std::string still_mov = dir.file("s1.mov");
    std::filesystem::copy_file(pcm, named1), std::filesystem::copy_file(pcm, named2);
    std::filesystem::copy_file(s.lens1, still_mov);
    c.push_back({"movies named .jpg", '3', named1, named2, dir.file("o.jpg"), "30003",
                 "export file not writable", "-1",
                 "[_ORBV_export]:export_path must end in .mov or .mp4", 1});
    c.push_back({"still named .mov", '3', still_mov, s.lens2, dir.file("o.mov"), "30003",
                 "export file not writable", "-1",
                 "[_ORBV_export]:export_path must end in .jpg or .jpeg", 1});
    if (!ro.empty()) {
        c.push_back({"thumbnail read-only", '1', text, "", ro + "/t.jpg", "10003",
                     "tumbnail not writable"});
        c.push_back(
            {"audio read-only", '2', text, "", ro + "/a.wav", "20003", "audio not writable"});
        c.push_back({"output read-only", '3', text, text, ro + "/o.mov", "30003",
                     "export file not writable"});
    }
    auto is_link = [&](const Case& k) { return k.out == link || k.out == dir.file("link.mov"); };
    if (no_links) c.erase(std::remove_if(c.begin(), c.end(), is_link), c.end());
    if (!no_sparse) {
        c.push_back({"inputs larger than the volume", '3', text, big, dir.file("o.mov"), "30004",
                     "disk is full", "-1", "", 1});
    }
    if (!full.empty()) {
        c.push_back(
            {"thumbnail volume full", '1', empty, "", full + "/t.jpg", "10004", "disk is full"});
        c.push_back({"audio volume full", '2', text, "", full + "/a.wav", "20004", "disk is full"});
        c.push_back(
            {"output volume full", '3', text, text, full + "/o.mov", "30004", "disk is full"});
    }
    for (const auto& [name, bytes, what] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"clip.png", "x", "not a media file"},
             {"clip", "", "an empty file"},
             {"clip.mov.bak", "x", "not a media file"},
             {"png.mov", "\x89PNG\r\n\x1a\n", "a PNG picture"}}) {
        write_file(dir.file(name), bytes);
        c.push_back({name, '1', dir.file(name), "", dir.file("t.jpg"), "10001", "Not Movie & JPEG",
                     "-1", what, 1});
    }
    return c;
}

// A file's bytes, or its size when it is the sparse one larger than the volume.
std::string fingerprint(const std::string& path) {
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    return !ec && size > (64 << 20) ? std::to_string(size) : read_file(path);
}

std::string paths_of(const Case& c) {
    auto json = [](const char* key, const std::string& p) {
        return "\"" + std::string(key) + "\":\"" + (p == kNull ? "" : escaped(p)) + "\"";
    };
    if (c.family == '1') return json("movie_path", c.in1);
    if (c.family == '2') return json("movie_path", c.in1) + "," + json("audio_path", c.out);
    return json("movie_path1", c.in1) + "," + json("movie_path2", c.in2) + "," +
           json("export_path", c.out);
}

TEST(FrontEnds, EachFailureGivesItsOneDocument) {
    TempDir dir;
    for (const Case& c : cases(dir)) {
        SCOPED_TRACE(std::string(1, c.family) + ": " + c.what);
        if (c.earlier >= 0) write_file(c.out, "earlier");
        const std::string in1 = fingerprint(c.in1), in2 = fingerprint(c.in2);
        Recorder rec;
        ExportArgs a{c.in1, c.in2, c.out};
        a.width = c.width;
        a.height = c.height;
        if (c.set) c.set(a);
        const int64_t result = call_family(c.family, a, &Recorder::callback);
        EXPECT_EQ(result, 0);
        ASSERT_EQ(rec.records().size(), 1u);
        const CallbackRecord r = rec.records()[0];
        EXPECT_EQ(r.state, STATE_FAILED);
        std::string api = c.api_errnum + ",\"api_errstr\":\"" + c.api_errstr;
        if (c.api_errnum == "*") {
            EXPECT_LT(std::stoll(json_field(r.document, "api_errnum")), 0) << r.document;
            api = json_field(r.document, "api_errnum") + ",\"api_errstr\":\"" +
                  json_field(r.document, "api_errstr");
        }
        EXPECT_EQ(r.document, "{\"errnum\":\"" + c.code + "\",\"errstr\":\"" + c.errstr +
                                  "\",\"api_errnum\":" + api + "\"," + paths_of(c) + "}");
        const bool kept = read_file(c.out) == "earlier";
        EXPECT_TRUE(c.earlier < 0 || kept || (c.earlier == 0 && !exists(c.out))) << "earlier file";
        EXPECT_TRUE(fingerprint(c.in1) == in1 && fingerprint(c.in2) == in2) << "an input changed";
    }
}

// A document holds at most 10,239 characters: a path that fills it exactly keeps the closing brace,
// one character more loses it, and an escaped path is cut wherever the limit falls.
TEST(FrontEnds, DocumentsAreCutAt10239Characters) {
    auto document = [](const std::string& path) {
        Recorder rec;
        ORBV_analyze_image(path.c_str(), nullptr, 0, 0, &Recorder::callback);
        return rec.final_record().document;
    };
    const std::string shell = document("");  // the document of an empty path
    auto expected = [&](const std::string& path) {
        return (shell.substr(0, shell.size() - 2) + escaped(path) + "\"}").substr(0, 10239);
    };
    const std::string fits = "/" + std::string(10239 - shell.size() - 1, 'p');
    EXPECT_EQ(document(fits), expected(fits));
    EXPECT_EQ(document(fits).back(), '}');
    EXPECT_EQ(document(fits + "p"), expected(fits + "p"));
    EXPECT_EQ(document(fits + "p").size(), 10239u);
    const std::string quotes = "/" + std::string(6000, '"');
    EXPECT_EQ(document(quotes), expected(quotes));
}

// Null paths and a null callback are allowed, and the work is done without a callback; a callback
// that throws does not unwind into the host through the library.
TEST(FrontEnds, NullsAndAThrowingCallback) {
    TempDir dir;
    const std::string& still = shot("still", 1, true).lens1;
    EXPECT_EQ(ORBV_analyze_image(nullptr, nullptr, 0, 0, nullptr), 0);
    EXPECT_EQ(ORBV_get_audio(nullptr, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(run_export({kNull, kNull, kNull}, nullptr), 0);
    EXPECT_EQ(ORBV_analyze_image(still.c_str(), dir.file("t.jpg").c_str(), 32, 0, nullptr), 0);
    EXPECT_EQ(read_file(dir.file("t.jpg")).substr(0, 2), "\xFF\xD8");
    ProgressCallback throwing = [](int32_t, const char*) { throw std::runtime_error("host"); };
    EXPECT_NO_THROW(ORBV_analyze_image(still.c_str(), nullptr, 0, 0, throwing));
    EXPECT_NO_THROW(
        run_export({dir.file("1.mov"), dir.file("2.mov"), dir.file("o.mov")}, throwing));
}

}  // namespace
