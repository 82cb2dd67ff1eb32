#include "metadata/panorama_xml.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "util/log.h"

namespace orbv {
namespace {

constexpr char kRdfNamespace[] = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr char kGPanoNamespace[] = "http://ns.google.com/photos/1.0/panorama/";
constexpr char kGSphericalNamespace[] = "http://ns.google.com/videos/1.0/spherical/";

// Placeholders: byte-order mark, software, width, height, width, height, date, date.
constexpr char kGPanoTemplate[] =
    "<?xpacket begin=\"%s\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta\">\n"
    "<rdf:RDF xmlns:rdf=\"%s\">\n"
    "<rdf:Description rdf:about=\"\" xmlns:GPano=\"%s\">\n"
    "<GPano:UsePanoramaViewer>True</GPano:UsePanoramaViewer>\n"
    "<GPano:StitchingSoftware>%s</GPano:StitchingSoftware>\n"
    "<GPano:ProjectionType>equirectangular</GPano:ProjectionType>\n"
    "<GPano:PoseHeadingDegrees>0.0</GPano:PoseHeadingDegrees>\n"
    "<GPano:CroppedAreaLeftPixels>0</GPano:CroppedAreaLeftPixels>\n"
    "<GPano:CroppedAreaTopPixels>0</GPano:CroppedAreaTopPixels>\n"
    "<GPano:CroppedAreaImageWidthPixels>%d</GPano:CroppedAreaImageWidthPixels>\n"
    "<GPano:CroppedAreaImageHeightPixels>%d</GPano:CroppedAreaImageHeightPixels>\n"
    "<GPano:FullPanoWidthPixels>%d</GPano:FullPanoWidthPixels>\n"
    "<GPano:FullPanoHeightPixels>%d</GPano:FullPanoHeightPixels>\n"
    "<GPano:FirstPhotoDate>%s</GPano:FirstPhotoDate>\n"
    "<GPano:LastPhotoDate>%s</GPano:LastPhotoDate>\n"
    "</rdf:Description>\n"
    "</rdf:RDF>\n"
    "</x:xmpmeta>\n"
    "<?xpacket end=\"r\"?>";

// Placeholders: software, date.
constexpr char kSphericalTemplate[] =
    "<?xml version=\"1.0\"?>\n"
    "<rdf:SphericalVideo xmlns:rdf=\"%s\" xmlns:GSpherical=\"%s\">\n"
    "<GSpherical:Spherical>true</GSpherical:Spherical>\n"
    "<GSpherical:Stitched>true</GSpherical:Stitched>\n"
    "<GSpherical:StitchingSoftware>%s</GSpherical:StitchingSoftware>\n"
    "<GSpherical:ProjectionType>equirectangular</GSpherical:ProjectionType>\n"
    "<GSpherical:Timestamp>%s</GSpherical:Timestamp>\n"
    "</rdf:SphericalVideo>";

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// The part of the token before `end_tag`, when the token holds it.
bool text_before(std::string_view token, std::string_view end_tag, OwnedText* out) {
    const size_t at = token.find(end_tag);
    if (at == std::string_view::npos) return false;
    *out = copy_text(token.data(), at);
    return true;
}

}  // namespace

std::string make_panorama_xml(bool is_jpeg, int32_t width, int32_t height, const char* date) {
    std::vector<char> buffer(kPanoramaXmlMax + 1);
    date = or_null(date);
    if (is_jpeg) {
        std::snprintf(buffer.data(), buffer.size(), kGPanoTemplate, kByteOrderMark, kRdfNamespace,
                      kGPanoNamespace, kStitchingSoftware, width, height, width, height, date,
                      date);
    } else {
        std::snprintf(buffer.data(), buffer.size(), kSphericalTemplate, kRdfNamespace,
                      kGSphericalNamespace, kStitchingSoftware, date);
    }
    return std::string(buffer.data());
}

// Tokens are the runs of text between '>' characters (runs of '>' separate once); the first
// token, before any '>', is not examined. The text itself is left as it is.
int32_t parse_panorama_xml(const char* text, OwnedText* software, OwnedText* date) {
    if (text == nullptr) return -1;
    int32_t result = -1;
    const char* p = text + std::strspn(text, ">");
    bool first = true;
    while (*p != '\0') {
        const char* end = p + std::strcspn(p, ">");
        const std::string_view token(p, static_cast<size_t>(end - p));
        if (!first) {
            OwnedText value;
            for (const char* tag :
                 {"</GSpherical:StitchingSoftware", "</GPano:StitchingSoftware"}) {
                if (text_before(token, tag, &value)) {
                    result = std::strncmp(value.get(), kOwnSoftwarePrefix,
                                          sizeof kOwnSoftwarePrefix - 1) == 0
                                 ? 0
                                 : 1;
                    *software = std::move(value);
                }
            }
            for (const char* tag : {"</GSpherical:Timestamp", "</GPano:FirstPhotoDate"}) {
                if (text_before(token, tag, &value)) *date = std::move(value);
            }
        }
        first = false;
        p = end + std::strspn(end, ">");
    }
    return result;
}

}  // namespace orbv
