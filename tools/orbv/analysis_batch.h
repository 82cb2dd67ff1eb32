#pragma once

#include "library.h"
#include "options.h"

namespace orbv_tool {

// orbv analyze: every file (and with -r the media files below each directory) analysed in
// this process, one after the other. A failure is reported for its file and the rest go on.
// The exit status: 0 when every file was analysed, 1 when any was not, 2 when the thumbnail
// directory cannot be one.
int analyze_files(const Library& library, const AnalyzeArgs& args, const Invocation& invocation);

// The width to ask of the library so that the thumbnail's longer side is `fit`: a quarter turn
// swaps the sides but keeps the longer one. The library makes the height height * w / width,
// rounded down; the result keeps that side at most `fit`, at `fit` whenever a width gives it.
uint32_t width_to_fit(int64_t width, int64_t height, uint32_t fit);

}  // namespace orbv_tool
