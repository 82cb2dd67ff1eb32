/* A host written in C: calls every function of the interface with a missing input and checks
 * the documents it receives, the final state and the return value. Exit status 0 when all
 * checks hold. */
#include <stdio.h>
#include <string.h>

#include "orbv.h"

static int g_calls;
static int32_t g_state;
static char g_document[10240];
static int g_failures;

static void callback(int32_t state, const char* json) {
    ++g_calls;
    g_state = state;
    snprintf(g_document, sizeof(g_document), "%s", json);
}

static void reset(void) {
    g_calls = 0;
    g_state = -1;
    g_document[0] = '\0';
}

static void check(const char* what, int64_t result, const char* expected) {
    if (result != 0 || g_calls != 1 || g_state != STATE_FAILED ||
        strcmp(g_document, expected) != 0) {
        fprintf(stderr, "%s: result %lld, %d callbacks, state %d\n  got      %s\n  expected %s\n",
                what, (long long)result, g_calls, (int)g_state, g_document, expected);
        ++g_failures;
    }
}

int main(void) {
    const char* missing = "/nonexistent-orbv/clip.mov";
    int64_t result;

    reset();
    result = ORBV_analyze_image(missing, NULL, 0, 0, callback);
    check("ORBV_analyze_image", result,
          "{\"errnum\":\"10000\",\"errstr\":\"Input file not exiists\",\"api_errnum\":-1,"
          "\"api_errstr\":\"\",\"movie_path\":\"/nonexistent-orbv/clip.mov\"}");

    reset();
    result = ORBV_get_audio(missing, "/tmp/orbv-c-host.wav", 0, NULL, callback);
    check("ORBV_get_audio", result,
          "{\"errnum\":\"20000\",\"errstr\":\"Input file not exiists\",\"api_errnum\":-1,"
          "\"api_errstr\":\"\",\"movie_path\":\"/nonexistent-orbv/clip.mov\","
          "\"audio_path\":\"/tmp/orbv-c-host.wav\"}");

    reset();
    result = ORBV_export(missing, missing, "/tmp/orbv-c-host.mov", NULL, 3840, 1920, 0, 0.0f, 0.0f,
                         -99999999, -99999999, -99999999, -99999999, -99999999, -99999999, 0.0f,
                         0.0f, -1.0f, -1.0f, 0, "2017:05:01 10:20:30", NULL, callback);
    check("ORBV_export", result,
          "{\"errnum\":\"30000\",\"errstr\":\"Input file1 not exiists\",\"api_errnum\":-1,"
          "\"api_errstr\":\"\",\"movie_path1\":\"/nonexistent-orbv/clip.mov\","
          "\"movie_path2\":\"/nonexistent-orbv/clip.mov\","
          "\"export_path\":\"/tmp/orbv-c-host.mov\"}");

    if (ORBV_freesize("/nonexistent-orbv/clip.mov") != -1) {
        fprintf(stderr, "ORBV_freesize: a path in a missing directory has a volume\n");
        ++g_failures;
    }
    if (ORBV_freesize("/tmp") <= 0) {
        fprintf(stderr, "ORBV_freesize: /tmp has no free space\n");
        ++g_failures;
    }
    return g_failures == 0 ? 0 : 1;
}
