#pragma once

#include <cstdint>

#include "api/documents.h"
#include "media/export_params.h"
#include "orbv.h"

namespace orbv {

// The work of one export once the call is validated: both inputs analysed and checked to be a
// pair, the projection prepared, the frame loop run and the finished output marked as a
// panorama. 0 with the result document; a negative value with the error document, *canceled
// set when the host cancelled the loop. The panorama is written to write_path; the documents
// name export_path, the host's.
int32_t _ORBV_export(const char* movie_path1, const char* movie_path2, const char* export_path,
                     const char* write_path, const char* band_image_path, const char* cancel_path,
                     ExportParams params, Document* document, int32_t* canceled,
                     ProgressCallback callback);

}  // namespace orbv
