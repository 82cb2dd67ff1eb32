// The JSON documents, character for character.
#include "api/documents.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace orbv;

namespace {

std::string text(const Document& doc) { return doc ? std::string(doc.get()) : "<null>"; }

// A path with both characters that need escaping, and how every document writes it.
const char* kAwkwardPath = "C:\\clips\\say \"hi\".mov";
const char* kAwkwardEscaped = "C:\\\\clips\\\\say \\\"hi\\\".mov";

}  // namespace

TEST(JsonEscape, DoublesBackslashesThenEscapesQuotesOnce) {
    EXPECT_EQ(json_escape(kAwkwardPath), kAwkwardEscaped);
    // A backslash already before a quote is doubled, and the quote gets its own backslash.
    EXPECT_EQ(json_escape("a\\\"b"), "a\\\\\\\"b");
    EXPECT_EQ(json_escape("\\\\"), "\\\\\\\\");
    EXPECT_EQ(json_escape("\"\""), "\\\"\\\"");
    // Control characters take JSON's escapes; UTF-8 passes unchanged.
    EXPECT_EQ(json_escape("/tmp/a\tb\nc/\xc3\xa9t\xc3\xa9.jpg"),
              "/tmp/a\\tb\\nc/\xc3\xa9t\xc3\xa9.jpg");
    EXPECT_EQ(json_escape(""), "");
    EXPECT_EQ(json_escape(nullptr), "");
}

TEST(ErrorDocuments, FollowTheirTemplates) {
    EXPECT_EQ(text(movie_error_json("/v/clip.mov", errors::kAnalysisInputMissing, "", -1)),
              "{\"errnum\":\"10000\",\"errstr\":\"Input file not exiists\",\"api_errnum\":-1,"
              "\"api_errstr\":\"\",\"movie_path\":\"/v/clip.mov\"}");
    EXPECT_EQ(
        text(audio_error_json("/v/clip.mov", "/v/a.wav", "Colud Not Write Audio!!",
                              "Invalid data found when processing input", 29999, -1094995529)),
        "{\"errnum\":\"29999\",\"errstr\":\"Colud Not Write Audio!!\","
        "\"api_errnum\":-1094995529,\"api_errstr\":\"Invalid data found when processing "
        "input\",\"movie_path\":\"/v/clip.mov\",\"audio_path\":\"/v/a.wav\"}");
    EXPECT_EQ(
        text(export_error_json("/v/1.mov", "/v/2.mov", "/v/out.mov", errors::kExportSizeMismatch,
                               "[_ORBV_export_analyze]:size error width1:1440 width2:1936 "
                               "height1720 height2:968",
                               -1)),
        "{\"errnum\":\"30001\",\"errstr\":\"Movie/Image different width or height\","
        "\"api_errnum\":-1,\"api_errstr\":\"[_ORBV_export_analyze]:size error "
        "width1:1440 width2:1936 height1720 height2:968\",\"movie_path1\":\"/v/1.mov\","
        "\"movie_path2\":\"/v/2.mov\",\"export_path\":\"/v/out.mov\"}");
}

TEST(ErrorDocuments, EscapePathsButNotMessages) {
    const std::string movie = text(movie_error_json(kAwkwardPath, "bad \"x\"", "a\\b \"c\"", 1, 2));
    EXPECT_EQ(movie, std::string("{\"errnum\":\"1\",\"errstr\":\"bad \"x\"\",\"api_errnum\":2,"
                                 "\"api_errstr\":\"a\\b \"c\"\",\"movie_path\":\"") +
                         kAwkwardEscaped + "\"}");

    const std::string audio = text(audio_error_json(kAwkwardPath, kAwkwardPath, "m", "", 1, 2));
    EXPECT_NE(audio.find(std::string("\"movie_path\":\"") + kAwkwardEscaped +
                         "\",\"audio_path\":\"" + kAwkwardEscaped + "\"}"),
              std::string::npos)
        << audio;

    const std::string exported =
        text(export_error_json(kAwkwardPath, kAwkwardPath, kAwkwardPath, "m", "", 1, 2));
    const std::string e = kAwkwardEscaped;
    EXPECT_NE(exported.find("\"movie_path1\":\"" + e + "\",\"movie_path2\":\"" + e +
                            "\",\"export_path\":\"" + e + "\"}"),
              std::string::npos)
        << exported;
}

TEST(ErrorDocuments, NullPathsPrintEmptyAndNullTextsPrintNull) {
    EXPECT_EQ(text(audio_error_json("/v/clip.mov", nullptr, errors::kAudioPathNull, "", -1)),
              "{\"errnum\":\"20001\",\"errstr\":\"Audio Path is NULL!!\",\"api_errnum\":-1,"
              "\"api_errstr\":\"\",\"movie_path\":\"/v/clip.mov\",\"audio_path\":\"\"}");
    EXPECT_EQ(text(export_error_json(nullptr, nullptr, nullptr, nullptr, nullptr, 3, 4)),
              "{\"errnum\":\"3\",\"errstr\":\"(null)\",\"api_errnum\":4,\"api_errstr\":\"(null)\","
              "\"movie_path1\":\"\",\"movie_path2\":\"\",\"export_path\":\"\"}");
}

TEST(AnalysisDocument, PrintsEveryFieldInOrder) {
    AnalysisFields f;
    f.width = 1936;
    f.height = 968;
    f.duration = 12.5;
    f.frame_count = 375;
    f.maker = "ORVAX COMPUTER";
    f.model = "ZK-TR500";
    f.orientation = 6;
    f.capture_mode = 128;
    f.multi_capture = 4294967297LL;  // needs all 64 bits
    f.camera_orientation = 2;
    f.youtube360_maker = "VELORA360Viewer win.1.0.0";
    f.is_target = true;
    f.created_thumbnail = false;
    f.datetime = "2017:05:01 10:20:30";
    f.type = "MOVIE";
    EXPECT_EQ(text(analysis_json("/v/clip.mov", "/v/thumb.jpg", f)),
              "{\"width\":1936,\"height\":968,\"duration\":12.500,\"frame_count\":375,"
              "\"maker\":\"ORVAX COMPUTER\",\"model\":\"ZK-TR500\",\"orientaion\":6,"
              "\"capture_mode\":128,\"multi_capture\":4294967297,\"camera_orientation\":2,"
              "\"youtube360_maker\":\"VELORA360Viewer win.1.0.0\",\"isTarget\":true,"
              "\"createdThumbnail\":false,\"movie_path\":\"/v/clip.mov\","
              "\"thumbnail_path\":\"/v/thumb.jpg\",\"datetime\":\"2017:05:01 10:20:30\","
              "\"type\":\"MOVIE\"}");
}

TEST(AnalysisDocument, AbsentTextsPrintAsNullAndPathsAreEscaped) {
    AnalysisFields f;  // a still without EXIF or XMP
    f.width = 3888;
    f.height = 3888;
    f.duration = 0.04;
    f.frame_count = 1;
    f.is_target = false;
    f.created_thumbnail = true;
    f.type = "JPEG";
    EXPECT_EQ(text(analysis_json(kAwkwardPath, nullptr, f)),
              std::string("{\"width\":3888,\"height\":3888,\"duration\":0.040,\"frame_count\":1,"
                          "\"maker\":\"(null)\",\"model\":\"(null)\",\"orientaion\":-1,"
                          "\"capture_mode\":-1,\"multi_capture\":-1,\"camera_orientation\":-1,"
                          "\"youtube360_maker\":\"(null)\",\"isTarget\":false,"
                          "\"createdThumbnail\":true,\"movie_path\":\"") +
                  kAwkwardEscaped +
                  "\",\"thumbnail_path\":\"\",\"datetime\":\"(null)\",\"type\":\"JPEG\"}");
}

// A file's own texts cannot break the document or add keys to it: quotes and backslashes are
// escaped like a path's, and control characters are written as \u00XX.
TEST(AnalysisDocument, TextsFromTheFileCannotBreakTheDocument) {
    EXPECT_EQ(json_escape_text("ORVAX COMPUTER"), "ORVAX COMPUTER");
    EXPECT_EQ(json_escape_text("a\\b\"c\nd\x01\x1f\x7f\xc3\xa9"),
              "a\\\\b\\\"c\\u000ad\\u0001\\u001f\x7f\xc3\xa9");
    EXPECT_EQ(json_escape_text(nullptr), "(null)");
    AnalysisFields f;
    f.maker = "X\",\"isTarget\":true,\"y\":\"";
    f.model = "line\nbreak";
    f.youtube360_maker = "tab\there";
    f.datetime = "2017:05:01\r";
    f.type = "JPEG";
    const std::string doc = text(analysis_json("/v/a.jpg", nullptr, f));
    EXPECT_NE(doc.find("\"maker\":\"X\\\",\\\"isTarget\\\":true,\\\"y\\\":\\\"\","),
              std::string::npos)
        << doc;
    EXPECT_NE(doc.find("\"model\":\"line\\u000abreak\","), std::string::npos) << doc;
    EXPECT_NE(doc.find("\"youtube360_maker\":\"tab\\u0009here\","), std::string::npos) << doc;
    EXPECT_NE(doc.find("\"datetime\":\"2017:05:01\\u000d\","), std::string::npos) << doc;
    EXPECT_EQ(doc.find('\n'), std::string::npos) << doc;
    EXPECT_EQ(doc.find("\"isTarget\":true"), std::string::npos) << doc;
}

TEST(ResultDocuments, FollowTheirTemplates) {
    EXPECT_EQ(
        text(audio_result_json(kAwkwardPath, "/v/a.wav")),
        std::string("{\"movie_path\":\"") + kAwkwardEscaped + "\",\"audio_path\":\"/v/a.wav\"}");
    EXPECT_EQ(text(audio_start_json("/v/m.mov", "/v/a.wav", 5000000000LL)),
              "{\"movie_path\":\"/v/m.mov\",\"audio_path\":\"/v/a.wav\","
              "\"frame_count\":5000000000}");
    EXPECT_EQ(text(export_result_json("/v/1.mov", "/v/2.mov", "/v/o.mov", STATE_DONE, 300)),
              "{\"movie_path1\":\"/v/1.mov\",\"movie_path2\":\"/v/2.mov\","
              "\"export_path\":\"/v/o.mov\"}");
    // Every state other than done gives the start document with the count.
    for (int32_t state : {STATE_START, STATE_PROGRESS, STATE_FAILED}) {
        EXPECT_EQ(
            text(export_result_json("/v/1.mov", "/v/2.mov", kAwkwardPath, state, 5000000000LL)),
            std::string("{\"movie_path1\":\"/v/1.mov\",\"movie_path2\":\"/v/2.mov\","
                        "\"export_path\":\"") +
                kAwkwardEscaped + "\",\"frame_count\":5000000000}");
    }
}

TEST(ProgressDocuments, AreFormattedIntoTheCallersBuffer) {
    std::vector<char> buffer(DOCUMENT_SIZE, 'x');
    format_audio_progress(buffer.data(), "/v/m.mov", kAwkwardPath, 40);
    EXPECT_EQ(std::string(buffer.data()),
              std::string("{\"movie_path\":\"/v/m.mov\",\"audio_path\":\"") + kAwkwardEscaped +
                  "\",\"frame_count\":40}");
    format_export_progress(buffer.data(), "/v/1.mov", "/v/2.mov", nullptr, 1200);
    EXPECT_EQ(std::string(buffer.data()),
              "{\"movie_path1\":\"/v/1.mov\",\"movie_path2\":\"/v/2.mov\",\"export_path\":\"\","
              "\"frame_count\":1200}");
}

TEST(DocumentSize, TextsBeyondTheBufferAreCutAt10239Characters) {
    const std::string prefix = "{\"movie_path\":\"";
    const std::string suffix = "\",\"audio_path\":\"\"}";
    // Exactly 10,239 characters fit with their closing brace.
    const std::string fits(DOCUMENT_SIZE - 1 - prefix.size() - suffix.size(), 'p');
    const std::string whole = text(audio_result_json(fits.c_str(), nullptr));
    EXPECT_EQ(whole.size(), 10239u);
    EXPECT_EQ(whole, prefix + fits + suffix);

    // One more character and the document loses its last character, the brace.
    const std::string over = fits + "p";
    const std::string cut = text(audio_result_json(over.c_str(), nullptr));
    EXPECT_EQ(cut.size(), 10239u);
    EXPECT_EQ(cut, (prefix + over + suffix).substr(0, 10239));
    EXPECT_NE(cut.back(), '}');

    // The escaped path is what gets cut, here in the middle of an escape pair.
    const std::string quotes(6000, '"');
    std::string escaped_quotes;
    for (size_t i = 0; i < quotes.size(); ++i) escaped_quotes += "\\\"";
    const std::string expected =
        "{\"errnum\":\"1\",\"errstr\":\"m\",\"api_errnum\":2,\"api_errstr\":\"\",\"movie_path\":"
        "\"" +
        escaped_quotes + "\"}";
    EXPECT_EQ(text(movie_error_json(quotes.c_str(), "m", "", 1, 2)), expected.substr(0, 10239));
}

TEST(Deliver, ShowsTheDocumentToTheCallbackOnly) {
    static std::vector<std::pair<int32_t, std::string>> seen;
    seen.clear();
    ProgressCallback record = [](int32_t state, const char* json) {
        seen.emplace_back(state, json);
    };
    deliver(record, STATE_CANCELED, audio_result_json("/a", "/b"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, STATE_CANCELED);
    EXPECT_EQ(seen[0].second, "{\"movie_path\":\"/a\",\"audio_path\":\"/b\"}");
    deliver(nullptr, STATE_DONE, audio_result_json("/a", "/b"));  // released unseen
    deliver(record, STATE_DONE, Document());                      // nothing to show
    EXPECT_EQ(seen.size(), 1u);
}
