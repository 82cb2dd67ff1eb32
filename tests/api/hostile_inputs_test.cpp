// A catalogue of hostile files and names, each given to every call of the interface in a child
// process of its own: a crash, a sanitizer finding or a hang fails the case, not the program.
// Whatever the file, a call answers with exactly one final document of its own family (1xxxx
// analysis, 2xxxx audio, 3xxxx export), leaves its input as it was and no failed output behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/export_call.h"
#include "support/fixtures.h"
#include "support/test_support.h"

namespace {

using namespace orbv_test;

const std::string kSpherical("\xff\xcc\x82\x63\xf8\x55\x4a\x93\x88\x14\x58\x7a\x02\x52\x1f\xdd",
                             16);
const std::string kXmp("http://ns.adobe.com/xap/1.0/\0", 29);
const std::string kOwn = "VELORA360Viewer win.1.0.0";
const std::string kPng(
    "\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR\x00\x00\x00\x01\x00"
    "\x00\x00\x01\x08\x06\x00\x00\x00"
    "\x1f\x15\xc4\x89\x00\x00\x00\nIDAT\x78\x9c\x63\x00\x01"
    "\x00\x00\x05\x00\x01\x0d\x0a\x2d"
    "\xb4\x00\x00\x00\x00IEND\xae\x42\x60\x82",
    67);

// EXIF-style blocks that break their own rules, behind a header ("MM\0*" in a still's APP1,
// "ORVM\0\0" in a movie's maker atom): the first directory's offset, a directory, a tail. Offsets
// count from the block's first byte.
std::vector<std::pair<std::string, std::string>> exif_variants(const std::string& h) {
    const auto dir = static_cast<uint32_t>(h.size() + 4),
               tail = dir + 18;  // after one entry
    auto block = [&](uint32_t first, const std::vector<Entry>& entries, int count = -1,
                     const std::string& rest = "") {
        return ByteWriter().raw(h).u32(first).raw(ifd(entries, count)).raw(rest).str();
    };
    const std::string orx("ORX\0\0\0", 6), maker("OR\"VAX\\\n\t\x01 COMPUTER\0\0\0\0\0\0", 24);
    const Entry note{0x927C, UNDEFINED, 8, tail};
    return {
        {"FirstDirectoryOutside", block(0xFFFFFFF0, {})},
        {"FirstDirectoryAtEnd", block(dir + 5, {})},  // its count would straddle the end
        {"TextsOutside", block(dir, {{0x010F, ASCII, 20, 0x7FFFFFF0}, {0x0110, ASCII, 9, ~3u}})},
        {"AsciiCountsOf4GB", block(dir, {{0x010F, ASCII, ~0u, dir}, {0x9003, ASCII, ~15u, 0}})},
        {"DirectoryCount7FFF", block(dir, {{0x0112, SHORT, 1, 6u << 16}}, 0x7FFF)},
        {"DirectoryCountFFFF", block(dir, {{0x010F, ASCII, 4, 0x4F525600}}, 0xFFFF)},
        {"ExifPointerToItself", block(dir, {{0x8769, LONG, 1, dir}})},
        {"ExifPointersInACircle",
         block(dir, {{0x8769, LONG, 1, tail}}, -1, ifd({{0x8769, LONG, 1, dir}}))},
        {"MakerNoteNamingItself",
         block(dir, {note}, -1, orx + ifd({note, {0x3000, SHORT, 1, 128u << 16}}))},
        {"MakerNoteBackToFirstDirectory",
         block(dir, {note}, -1, orx + ifd({{0x8769, LONG, 1, dir}}))},
        {"MakerNoteOutside", block(dir, {{0x927C, UNDEFINED, 4, ~1u}})},
        {"MakerNoteAtTheEnd", block(dir, {note}, -1, std::string("ORX\0", 4))},
        {"MakerWithQuotesAndControls", block(dir, {{0x010F, ASCII, 24, tail}}, -1, maker)},
    };
}

// What the calls must answer besides the common rules: the analysis "done" (with its target flag
// and stitching software) or an error code, or "any"; audio and exports with a good partner 1
// succeed, 0 fail, -1 either.
struct Expect {
    std::string analysis = "any";
    int target = -1;
    std::string software = "(null)";
    int audio = -1, exports = -1;
};
const Expect kAny;
Expect fails(const std::string& code) { return {code}; }
Expect done(int target = 0, const std::string& software = "(null)", int media = 1) {
    return {"done", target, software, media ? -1 : 0, media};
}

struct HostileCase {
    std::string name, bytes;
    Expect expect;
    bool still = false;      // ".jpg" with a still partner, else ".mov" with a movie partner
    bool directory = false;  // a directory of that name instead of a file
};
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

// Camera shots as the partners, and lens 1 files without camera data to break.
const orbv_sample::Shot& movies() { return shot("movie"); }
const orbv_sample::Shot& stills() { return shot("still", 1, true); }
std::pair<std::string, std::string> plain_lens_files() {
    orbv_sample::LensRenderer renderer(1440);
    orbv_sample::MovieOptions o;
    o.width = o.height = 1440;
    o.frames = 3;
    o.with_camera = false;
    o.picture = [&renderer](int frame) { return renderer.render(1, frame); };
    orbv_sample::write_movie(fixture_file("plain.mov"), o);
    orbv_sample::write_still(fixture_file("plain.jpg"), renderer.render(1, 0), nullptr);
    return {read_file(fixture_file("plain.mov")), read_file(fixture_file("plain.jpg"))};
}

std::vector<HostileCase> still_cases(const std::string& s) {
    auto app1 = [&](const std::string& payload) {
        return s.substr(0, 2) + segment(0xE1, payload) + s.substr(2);
    };
    std::string xmp_full = kXmp;
    while (xmp_full.size() < 65400) xmp_full += "<a x=\"1\">text</a>";
    xmp_full += "<GPano:StitchingSoftware>" + kOwn + "</GPano:StitchingSoftware>";
    std::vector<HostileCase> c = {
        {"EmptyStill", "", fails("10001")},
        {"StartMarkerOnly", s.substr(0, 2), fails("10001")},
        {"StillCutAt100Bytes", s.substr(0, 100), fails("10001")},
        {"StillCutInHalf", s.substr(0, s.size() / 2), kAny},
        {"StillCutInsideItsExif", read_file(stills().lens1).substr(0, 40), fails("10001")},
        {"App1LongerThanTheFile", s.substr(0, 2) + ByteWriter().u16(0xFFE1).u16(0xFFF0).str(),
         fails("10001")},
        {"ExifBlockOfTwoBytes", app1(std::string("Exif\0\0MM", 8)), done()},
        {"XmpWithoutClosingBracket", app1(kXmp + "<GPano:StitchingSoftware " + kOwn), done()},
        {"XmpOfOnlyItsSignature", app1(kXmp), done()},
        {"XmpShorterThanItsSignature", app1("http://ns"), done()},
        {"XmpOfBracketsOnly", app1(kXmp + std::string(65000, '>')), done()},
        {"XmpFullSegmentEndingInOwnSoftware", app1(xmp_full), done(1, kOwn)},
        {"PngNamedJpg", kPng, kAny},
        {"TextNamedJpg", "not a picture\n", fails("10001")},
        {"DirectoryNamedJpg", "", fails("10001"), true, true},
    };
    for (int length : {0, 1, 4}) {
        const std::string segment = ByteWriter().u16(0xFFE1).u16(length).raw("Ex").str();
        c.push_back({"App1OfLength" + std::to_string(length),
                     s.substr(0, 2) + segment + s.substr(2), kAny});
    }
    for (const auto& [name, block] : exif_variants(std::string("MM\0\x2A", 4))) {
        c.push_back({"Exif" + name, app1(std::string("Exif\0\0", 6) + block), done()});
    }
    for (HostileCase& one : c) one.still = true;
    return c;
}

std::string before_moov(const std::string& m, const std::string& inserted) {
    const size_t at = find_atom(m, {"moov"}).start;
    return m.substr(0, at) + inserted + m.substr(at);
}
std::string moov_as_64bit(const std::string& m, uint64_t size) {
    const AtomAt moov = find_atom(m, {"moov"});
    const std::string payload = m.substr(moov.start + 8, moov.size - 8);
    return m.substr(0, moov.start) +
           ByteWriter().u32(1).raw("moov").u64(size ? size : payload.size() + 16).str() + payload;
}
// Every chunk of every track placed far past the end of the file.
std::string samples_past_the_end(std::string m) {
    for (size_t at = find_atom(m, {"moov"}).start; (at = m.find("stco", at)) != m.npos; at += 4) {
        for (uint32_t i = 0; i < get_u32(m, at + 8); ++i) set_u32(&m, at + 12 + 4 * i, 0x7FFFFF00);
    }
    return m;
}
std::string spherical(const std::string& software) {
    return "<?xml "
           "version=\"1.0\"?><rdf:SphericalVideo><GSpherical:StitchingSoftware>" +
           software + "</GSpherical:StitchingSoftware></rdf:SphericalVideo>";
}
std::string free_atom(uint32_t size) { return ByteWriter().u32(size).raw("free").str(); }

std::vector<HostileCase> movie_cases(const std::string& m, const std::string& s) {
    const std::string camera = read_file(movies().lens1);
    const std::vector<std::string> moov = {"moov"}, trak = {"moov", "trak"},
                                   udta = {"moov", "udta"};
    const AtomAt mdat = find_atom(m, {"mdat"});
    std::string zeroed = m;
    zeroed.replace(mdat.start + 8, mdat.size - 8, mdat.size - 8, '\0');
    auto orvm = [&](const std::string& payload) {
        return insert_child(m, udta, atom("ORVM", payload), false);
    };
    auto uuid = [&](const std::string& payload) {
        return insert_child(m, trak, atom("uuid", payload), false);
    };
    const uint64_t huge = 1ULL << 62;
    const std::vector<std::string> orvm_path = {"moov", "udta", "ORVM"};
    std::string xml = kSpherical;
    while (xml.size() < 100 * 1024) xml += "<GSpherical:Note>abc</GSpherical:Note>";
    std::vector<HostileCase> c = {
        {"EmptyMovie", "", fails("10001")},
        {"AtomHeaderOnly",
         std::string("\0\0\0\x10"
                     "ftyp",
                     8),
         fails("10001")},
        {"MovieCutAt100Bytes", m.substr(0, 100), fails("10001")},
        {"MovieCutInHalf", m.substr(0, m.size() / 2), fails("10001")},
        {"MovieCutInsideMoov", m.substr(0, m.size() - 40), kAny},
        {"MovieWithoutMoov", m.substr(0, find_atom(m, moov).start), fails("10001")},
        {"MovieWithoutMediaData", m.substr(0, mdat.start) + m.substr(mdat.end()), kAny},
        {"MediaDataZeroed", zeroed, kAny},
        {"SamplesPastTheEnd", samples_past_the_end(m), done(0, "(null)", 0)},
        {"TopLevelAtomOfSize0", before_moov(m, free_atom(0)), fails("19999")},
        {"AtomOfSize0InMoov", insert_child(m, moov, free_atom(0), true), fails("10001")},
        {"AtomOfSize0InUdta", insert_child(camera, udta, free_atom(0), true), kAny},
        {"AtomOfSize4InTrak", insert_child(m, trak, free_atom(4), true), kAny},
        {"TopLevelAtomPastTheEnd", before_moov(m, free_atom(0x7FFFFFF0)), fails("10001")},
        {"MoovPastTheEnd", with_size(m, moov, find_atom(m, moov).size + 1000), kAny},
        {"TrakPastMoov", with_size(m, trak, find_atom(m, moov).size), kAny},
        {"OrvmPastUdta", with_size(camera, orvm_path, find_atom(camera, orvm_path).size + 64),
         done()},
        {"TopLevel64BitSizeOf2To62",
         before_moov(m, ByteWriter().u32(1).raw("free").u64(huge).str()), fails("10001")},
        {"Moov64BitSizeOf2To62", moov_as_64bit(m, huge), kAny},
        {"Moov64BitSizeExact", moov_as_64bit(camera, 0), done(1)},
        {"Udta64BitSizeOf2To62",
         insert_child(m, moov, ByteWriter().u32(1).raw("udta").u64(huge).str(), true), kAny},
        {"OrvmOfFourBytes", orvm("ORVM"), done()},
        {"OrvmEmpty", orvm(""), done()},
        {"UuidOfOnlyItsIdentifier", uuid(kSpherical), done()},
        {"UuidWithoutIdentifier", uuid(""), kAny},
        {"UuidOfAnotherIdentifier", uuid(std::string(16, 'x') + spherical(kOwn)), done()},
        {"UuidXmlWithoutClosingBracket", uuid(kSpherical + "<GSpherical:StitchingSoftware " + kOwn),
         done()},
        {"UuidOf100KBOfXml", uuid(xml + spherical(kOwn)), done(1, kOwn)},
        {"StillNamedMov", s, kAny},
        {"PngNamedMov", kPng, kAny},
        {"TextNamedMov", "not a movie\n", fails("10001")},
        {"DirectoryNamedMov", "", fails("10001"), false, true},
    };
    for (const auto& [name, block] : exif_variants(std::string("ORVM\0\0", 6))) {
        c.push_back({"Orvm" + name, orvm(block), done()});
    }
    return c;
}

// The catalogue in two halves, files named as stills and as movies, which ctest runs side by side.
std::vector<HostileCase> cases(bool stills) {
    static const std::pair<std::string, std::string> plain = plain_lens_files();
    const auto& [movie, still] = plain;
    std::vector<HostileCase> c = stills ? still_cases(still) : movie_cases(movie, still);
    if (stills) c.push_back({"MovieNamedJpg", movie, kAny, true});
    return c;
}

// --- One call in a child, held to the common rules -------------------------------------------

std::set<std::string> listing(const std::string& dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::u8path(dir), ec))
        names.insert(e.path().filename().u8string());
    return names;
}

std::string contents(const std::string& path) {
    return std::filesystem::is_directory(std::filesystem::u8path(path)) ? "<dir>" : read_file(path);
}

// Makes a call ('1' analysis with a thumbnail, '2' audio, '3' export) whose only output may be
// `a.out`: no crash, no hang, start and progress documents only before exactly one final one, an
// error code of the call's family, the input as it was, and nothing but a successful output left in
// the output's directory.
CallbackRecord call(char family, const ExportArgs& a, const std::string& input) {
    const std::string dir = a.out.substr(0, a.out.rfind('/')), before = contents(input);
    std::set<std::string> allowed = listing(dir);
    const IsolatedOutcome o =
        IsolatedCall::run([&] { call_family(family, a, &IsolatedCall::callback); });
    EXPECT_TRUE(o.clean()) << o.describe();
    if (o.records.empty()) return {-1, ""};
    for (size_t i = 0; i + 1 < o.records.size(); ++i) {
        EXPECT_TRUE(family != '1' && o.records[i].state <= STATE_PROGRESS) << o.describe();
    }
    for (const CallbackRecord& r : o.records) EXPECT_TRUE(flat_json(r.document)) << r.document;
    CallbackRecord last = o.records.back();
    const std::string code = json_field(last.document, "errnum");
    if (last.state == STATE_DONE) {
        EXPECT_EQ(code, "<missing>") << o.describe();
        allowed.insert(a.out.substr(a.out.rfind('/') + 1));
    } else {
        static const std::set<std::string> endings = {"0000", "0001", "0003", "0004", "9999"};
        EXPECT_TRUE(code.size() == 5 && code[0] == family && endings.count(code.substr(1)))
            << "errnum " << code << " is not of family " << family << ": " << o.describe();
    }
    EXPECT_TRUE(contents(input) == before) << "the call changed its input";
    for (const std::string& f : listing(dir)) EXPECT_EQ(allowed.count(f), 1u) << "left: " << f;
    return last;
}

class HostileInput : public ::testing::TestWithParam<HostileCase> {
  protected:
    // A path in a fresh directory for one call's output.
    std::string out(const std::string& name) {
        EXPECT_TRUE(std::filesystem::create_directory(outputs_.file(std::to_string(++made_))));
        return outputs_.file(std::to_string(made_) + "/" + name);
    }
    TempDir inputs_, outputs_;
    int made_ = 0;
};

TEST_P(HostileInput, EveryCallAnswersOnceWithinItsFamily) {
    const HostileCase& c = GetParam();
    const Expect& e = c.expect;
    const std::string in = inputs_.file(c.still ? "hostile.jpg" : "hostile.mov");
    if (c.directory) {
        ASSERT_TRUE(std::filesystem::create_directory(in));
        write_file(in + "/inside", "a file inside the directory");
    } else {
        write_file(in, c.bytes);
    }
    CallbackRecord r = call('1', {in, "", kNull}, in);
    EXPECT_EQ(json_field(r.document, "movie_path"), escaped(in));
    if (e.analysis == "done") {
        ASSERT_EQ(r.state, STATE_DONE) << r.document;
        EXPECT_EQ(json_field(r.document, "type"), c.still ? "JPEG" : "MOVIE") << r.document;
        EXPECT_EQ(json_field(r.document, "width"), "1440") << r.document;
        EXPECT_EQ(json_field(r.document, "youtube360_maker"), e.software) << r.document;
        const std::string target = json_field(r.document, "isTarget");
        EXPECT_TRUE(e.target < 0 || target == (e.target ? "true" : "false")) << r.document;
    } else if (e.analysis != "any") {
        EXPECT_EQ(json_field(r.document, "errnum"), e.analysis) << r.document;
    }
    // Thumbnails are written whatever the camera.
    const std::string thumb = out("thumb.jpg");
    r = call('1', {in, "", thumb}, in);
    EXPECT_TRUE(r.state != STATE_DONE || read_file(thumb).substr(0, 2) == "\xFF\xD8");
    const std::string sound = out("sound.wav");
    r = call('2', {in, "", sound}, in);
    EXPECT_EQ(json_field(r.document, "audio_path"), escaped(sound));
    EXPECT_TRUE(e.audio < 0 || r.state == (e.audio ? STATE_DONE : STATE_FAILED)) << r.document;
    // The hostile file as either lens of a good pair.
    const orbv_sample::Shot& partner = c.still ? stills() : movies();
    for (int lens = 1; lens <= 2; ++lens) {
        const ExportArgs a{lens == 1 ? in : partner.lens1, lens == 2 ? in : partner.lens2,
                           out(c.still ? "pano.jpg" : "pano.mov")};
        r = call('3', a, in);
        EXPECT_EQ(json_field(r.document, "export_path"), escaped(a.out));
        EXPECT_TRUE(e.exports < 0 || r.state == (e.exports ? STATE_DONE : STATE_FAILED))
            << r.document;
    }
}

INSTANTIATE_TEST_SUITE_P(Stills, HostileInput, ::testing::ValuesIn(cases(true)),
                         [](const auto& test) { return test.param.name; });
INSTANTIATE_TEST_SUITE_P(Movies, HostileInput, ::testing::ValuesIn(cases(false)),
                         [](const auto& test) { return test.param.name; });

// Quotes, backslashes, bytes that are not UTF-8 and (in outputs) a printf pattern, or letters
// beyond ASCII in a directory of their own, reach the file system unchanged and every document
// escaped; the outputs appear under exactly the names given. Windows names hold UTF-16 only.
TEST(HostileNames, ReachTheFileSystemUnchangedAndEscaped) {
    const struct {
        std::string folder, odd;
        bool any_bytes;
    } names[] = {{"", "q\"b\\\\n\xff\xfe\xc3(", true},
                 {"\xc3\x9c/", "\xe6\x97\xa5\xe6\x9c\xac", false}};
    for (const auto& n : names) {
        if (n.any_bytes && !names_take_any_bytes()) continue;
        SCOPED_TRACE(n.odd);
        TempDir top;
        const std::string dir = top.file(n.folder), odd = n.odd, pattern = odd + "%d";
        std::filesystem::create_directories(std::filesystem::u8path(dir));
        auto copy = [&](const std::string& from, const std::string& name, const char* extension) {
            write_file(dir + name + odd + extension, read_file(from));
            return dir + name + odd + extension;
        };
        const std::string still = copy(stills().lens1, "s", ".jpg");
        const std::string m1 = copy(movies().lens1, "", ".mov");
        const ExportArgs pano{m1, copy(movies().lens2, "m2", ".MOV"), dir + "p" + pattern + ".mov"};
        const std::string thumb = dir + "t" + pattern + ".jpg",
                          sound = dir + "a" + pattern + ".wav";
        CallbackRecord r = call('1', {still, "", thumb}, still);
        EXPECT_EQ(json_field(r.document, "thumbnail_path"), escaped(thumb));
        EXPECT_EQ(read_file(thumb).substr(0, 2), "\xFF\xD8");
        EXPECT_EQ(json_field(call('1', {m1, "", ""}, m1).document, "movie_path"), escaped(m1));
        EXPECT_EQ(call('2', {m1, "", sound}, m1).state, STATE_DONE);
        EXPECT_EQ(read_file(sound).substr(0, 4), "RIFF");
        r = call('3', pano, m1);
        EXPECT_EQ(json_field(r.document, "movie_path2"), escaped(pano.in2));
        EXPECT_GT(read_file(pano.out).size(), 1000u);
        EXPECT_GT(ORBV_freesize(m1.c_str()), 0);
        EXPECT_EQ(ORBV_freesize((dir + "missing" + odd + "/x.mov").c_str()), -1);
    }
}

}  // namespace
