#pragma once

#include <cstdint>

// Every error code and message the library reports. The texts are part of the interface,
// misspellings included: hosts match on them.
namespace orbv {

struct ErrorCode {
    int32_t errnum;
    const char* errstr;
};

namespace errors {

// Analysis (1xxxx).
constexpr ErrorCode kAnalysisInputMissing{10000, "Input file not exiists"};
constexpr ErrorCode kAnalysisNotMedia{10001, "Not Movie & JPEG"};
constexpr ErrorCode kAnalysisOpenFailed{10001, "Could Not open file"};
constexpr ErrorCode kThumbnailNotWritable{10003, "tumbnail not writable"};
constexpr ErrorCode kAnalysisDiskFull{10004, "disk is full"};
constexpr ErrorCode kThumbnailWriteFailed{19999, "Could Not Write Thumbnail"};
constexpr ErrorCode kAnalysisUnknown{19999, "an unknown error occurred"};

// Audio extraction (2xxxx).
constexpr ErrorCode kAudioInputMissing{20000, "Input file not exiists"};
constexpr ErrorCode kAudioOpenFailed{20001, "Cold Not Open File"};
constexpr ErrorCode kAudioNoStream{20001, "Movie Has No Audio Stream!!"};
constexpr ErrorCode kAudioPathNull{20001, "Audio Path is NULL!!"};
constexpr ErrorCode kAudioNotWritable{20003, "audio not writable"};
constexpr ErrorCode kAudioDiskFull{20004, "disk is full"};
constexpr ErrorCode kAudioCanceled{29999, "Canceled"};
constexpr ErrorCode kAudioWriteFailed{29999, "Colud Not Write Audio!!"};
constexpr ErrorCode kAudioUnknown{29999, "an unknown error occurred"};

// Export (3xxxx).
constexpr ErrorCode kExportInput1Missing{30000, "Input file1 not exiists"};
constexpr ErrorCode kExportInput2Missing{30000, "Input file2 not exiists"};
constexpr ErrorCode kExportAnalyze1Failed{30001, "Analyze Error InputFile1"};
constexpr ErrorCode kExportAnalyze2Failed{30001, "Analyze Error InputFile2"};
constexpr ErrorCode kExportSizeMismatch{30001, "Movie/Image different width or height"};
constexpr ErrorCode kExportWidthUnsupported{30001, "Movie/Image width not in 3888 , 1936 , 1440"};
constexpr ErrorCode kExportOpenFailed{30001, "Could not open file"};
constexpr ErrorCode kExportSizeUnsupported{30001, "Export width or height not supported"};
constexpr ErrorCode kExportNumberUnfit{30001, "Export parameter out of range"};
constexpr ErrorCode kExportWindow1Empty{30001, "Trim Error InputFile1"};
constexpr ErrorCode kExportWindow2Empty{30001, "Trim Error InputFile2"};
constexpr ErrorCode kExportNotWritable{30003, "export file not writable"};
constexpr ErrorCode kExportDiskFull{30004, "disk is full"};
constexpr ErrorCode kExportCanceled{39999, "Canceled"};
constexpr ErrorCode kExportWriteFailed{39999, "Could not write video"};
constexpr ErrorCode kExportUnknown{39999, "an unknown error occurred"};

}  // namespace errors

// api_errstr of the export's analysis failures and the formats of its size errors.
constexpr const char* kExportAnalyzeApiText = "[_ORBV_export_analyze]:analyze error";
constexpr const char* kExportSizeMismatchFormat =
    "[_ORBV_export_analyze]:size error width1:%d width2:%d height1%d height2:%d";
constexpr const char* kExportWidthFormat = "[_ORBV_export_analyze]:size error width:%d";
// api_errstr of an input of a still pair that is no JPEG picture (a movie named .jpg).
constexpr const char* kExportNotJpegText = "[_ORBV_export_analyze]:not a JPEG picture";
// api_errstr of a trim window without pictures: start, end (-1: none), the movie's duration.
constexpr const char* kExportWindowFormat =
    "[_ORBV_export]:window start:%.6g end:%.6g duration:%.6g";
// api_errstr of an export path whose name does not fit the job.
constexpr const char* kExportMovieNameText = "[_ORBV_export]:export_path must end in .mov or .mp4";
constexpr const char* kExportStillNameText = "[_ORBV_export]:export_path must end in .jpg or .jpeg";
// api_errstr of a thumbnail or audio path whose name does not fit.
constexpr const char* kThumbnailNameText =
    "[ORBV_analyze_image]:thumbnail_path must end in .jpg or .jpeg";
constexpr const char* kAudioNameText =
    "[ORBVX_get_audio]:audio_path must end in .mp3 (MP3), .opus or .ogg (Opus), .m4a or .mp4 "
    "(AAC), .flac (FLAC), or .wav, .mov or another name FFmpeg writes 16-bit PCM into";

}  // namespace orbv
