// The panorama texts: the two templates and reading them (and foreign ones) back.
#include "metadata/panorama_xml.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using orbv::make_panorama_xml;
using orbv::OwnedText;
using orbv::parse_panorama_xml;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

struct Parse {
    explicit Parse(const std::string& text) {
        result = parse_panorama_xml(text.c_str(), &software, &date);
    }
    int32_t result;
    OwnedText software, date;
};

}  // namespace

TEST(PanoramaXml, GPanoPacketLineByLine) {
    const std::string xml = make_panorama_xml(true, 3840, 1920, "2021:03:04 05:06:07");
    const std::vector<std::string> l = lines(xml);
    ASSERT_EQ(l.size(), 20u);
    EXPECT_NE(xml.back(), '\n');
    EXPECT_EQ(l[0], "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>");
    EXPECT_EQ(l[1], "<x:xmpmeta xmlns:x=\"adobe:ns:meta\">");
    EXPECT_EQ(l[2], "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">");
    EXPECT_EQ(l[3],
              "<rdf:Description rdf:about=\"\" "
              "xmlns:GPano=\"http://ns.google.com/photos/1.0/panorama/\">");
    EXPECT_EQ(l[5], "<GPano:StitchingSoftware>VELORA360Viewer win.1.0.0</GPano:StitchingSoftware>");
    EXPECT_EQ(l[8], "<GPano:CroppedAreaLeftPixels>0</GPano:CroppedAreaLeftPixels>");
    EXPECT_EQ(l[9], "<GPano:CroppedAreaTopPixels>0</GPano:CroppedAreaTopPixels>");
    EXPECT_EQ(l[10], "<GPano:CroppedAreaImageWidthPixels>3840</GPano:CroppedAreaImageWidthPixels>");
    EXPECT_EQ(l[11],
              "<GPano:CroppedAreaImageHeightPixels>1920</GPano:CroppedAreaImageHeightPixels>");
    EXPECT_EQ(l[12], "<GPano:FullPanoWidthPixels>3840</GPano:FullPanoWidthPixels>");
    EXPECT_EQ(l[13], "<GPano:FullPanoHeightPixels>1920</GPano:FullPanoHeightPixels>");
    EXPECT_EQ(l[14], "<GPano:FirstPhotoDate>2021:03:04 05:06:07</GPano:FirstPhotoDate>");
    EXPECT_EQ(l[15], "<GPano:LastPhotoDate>2021:03:04 05:06:07</GPano:LastPhotoDate>");
    EXPECT_EQ(l[19], "<?xpacket end=\"r\"?>");

    Parse p(xml);
    EXPECT_EQ(p.result, 0);
    EXPECT_STREQ(p.software.get(), "VELORA360Viewer win.1.0.0");
    EXPECT_STREQ(p.date.get(), "2021:03:04 05:06:07");
}

TEST(PanoramaXml, SphericalXmlLineByLine) {
    const std::string xml = make_panorama_xml(false, 3840, 1920, "2020-01-02T03:04:05");
    const std::vector<std::string> l = lines(xml);
    ASSERT_EQ(l.size(), 8u);
    EXPECT_EQ(l[0], "<?xml version=\"1.0\"?>");
    EXPECT_EQ(l[1],
              "<rdf:SphericalVideo xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
              "xmlns:GSpherical=\"http://ns.google.com/videos/1.0/spherical/\">");
    EXPECT_EQ(l[4],
              "<GSpherical:StitchingSoftware>VELORA360Viewer win.1.0.0"
              "</GSpherical:StitchingSoftware>");
    EXPECT_EQ(l[6], "<GSpherical:Timestamp>2020-01-02T03:04:05</GSpherical:Timestamp>");
    EXPECT_EQ(l[7], "</rdf:SphericalVideo>");

    Parse p(xml);
    EXPECT_EQ(p.result, 0);
    EXPECT_STREQ(p.software.get(), "VELORA360Viewer win.1.0.0");
    EXPECT_STREQ(p.date.get(), "2020-01-02T03:04:05");
}

TEST(PanoramaXml, OutputIsCutToItsBuffer) {
    const std::string date(20000, '9');
    EXPECT_EQ(make_panorama_xml(true, 1, 1, date.c_str()).size(), orbv::kPanoramaXmlMax);
    EXPECT_NE(make_panorama_xml(false, 1, 1, nullptr).find(">(null)<"), std::string::npos);
}

TEST(PanoramaXml, SoftwareDecidesTheResult) {
    auto result = [](const std::string& software) {
        return Parse("<a><GPano:StitchingSoftware>" + software + "</GPano:StitchingSoftware>")
            .result;
    };
    EXPECT_EQ(result("VELORA360Viewer"), 0);
    EXPECT_EQ(result("VELORA360Viewer mac"), 0);
    EXPECT_EQ(result("VELORA360View"), 1);
    EXPECT_EQ(result(""), 1);
    EXPECT_EQ(result("Other Stitcher"), 1);

    // The last software element wins; each kind of date element is read.
    Parse last(
        "<r><GSpherical:StitchingSoftware>VELORA360Viewer</GSpherical:StitchingSoftware>"
        "<GPano:StitchingSoftware>Other</GPano:StitchingSoftware>");
    EXPECT_EQ(last.result, 1);
    EXPECT_STREQ(last.software.get(), "Other");
}

TEST(PanoramaXml, TheLaterDateInTheTextWins) {
    Parse p(
        "<r>\n<GPano:FirstPhotoDate>first</GPano:FirstPhotoDate>\n"
        "<GSpherical:Timestamp>second</GSpherical:Timestamp>");
    EXPECT_EQ(p.result, -1);
    EXPECT_STREQ(p.date.get(), "second");
    EXPECT_EQ(p.software, nullptr);
}

TEST(PanoramaXml, TextsWithoutElementContentGiveNothing) {
    // StitchingSoftware as an attribute of rdf:Description.
    Parse attribute(
        "<x:xmpmeta><rdf:Description GPano:StitchingSoftware=\"VELORA360Viewer\"/>"
        "</x:xmpmeta>");
    EXPECT_EQ(attribute.result, -1);
    EXPECT_EQ(attribute.software, nullptr);
    EXPECT_EQ(Parse("no tags at all").result, -1);
    EXPECT_EQ(Parse("").result, -1);
    EXPECT_EQ(Parse(">>>").result, -1);
    // The first token is never examined, and runs of '>' separate once.
    EXPECT_EQ(Parse("VELORA360Viewer</GPano:StitchingSoftware>").result, -1);
    Parse runs(">>a>>>VELORA360Viewer</GPano:StitchingSoftware>>");
    EXPECT_EQ(runs.result, 0);
    EXPECT_EQ(parse_panorama_xml(nullptr, nullptr, nullptr), -1);

    // Outputs are untouched when nothing is found.
    OwnedText software = orbv::copy_text("kept", 4);
    OwnedText date;
    EXPECT_EQ(parse_panorama_xml("<a>b</a>", &software, &date), -1);
    EXPECT_STREQ(software.get(), "kept");
    EXPECT_EQ(date, nullptr);
}
