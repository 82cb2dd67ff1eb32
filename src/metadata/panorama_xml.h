#pragma once

#include <cstdint>
#include <string>

#include "metadata/owned_text.h"

namespace orbv {

// The stitching software named in every panorama this library writes, and the prefix that
// marks a panorama as its own when read back.
constexpr char kStitchingSoftware[] = "VELORA360Viewer win.1.0.0";
constexpr char kOwnSoftwarePrefix[] = "VELORA360Viewer";

// The largest text make_panorama_xml gives (its buffer less the NUL).
constexpr size_t kPanoramaXmlMax = 10239;

// The panorama metadata of an export: for a still (is_jpeg) the GPano XMP packet for
// JpegFile::insert_xmp, for a movie the spherical-video XML for MovFile::insert_spherical_xml.
// The date is copied unchanged (null prints as "(null)"); the text is cut at kPanoramaXmlMax.
std::string make_panorama_xml(bool is_jpeg, int32_t width, int32_t height, const char* date);

// Reads GPano or GSpherical StitchingSoftware and FirstPhotoDate/Timestamp element texts,
// the last of each kind winning. Returns 0 when the software text starts with
// kOwnSoftwarePrefix, 1 when it holds something else, -1 when there is none (or text is
// null). *software and *date get copies of what was found and are untouched otherwise.
int32_t parse_panorama_xml(const char* text, OwnedText* software, OwnedText* date);

}  // namespace orbv
