/* A host written in C: calls every function of the interface with a missing input and checks
 * the documents it receives, the final state and the return value. Exit status 0 when all
 * checks hold. */
#include <stdio.h>
#include <string.h>

#include "orbv.h"

#define MISSING "/nonexistent-orbv/clip.mov"
#define FAILED(code, text)                        \
    "{\"errnum\":\"" code "\",\"errstr\":\"" text \
    "\",\"api_errnum\":-1,\"api_errstr\":\"\","   \
    "\"movie_path"

static int g_calls;
static int32_t g_state;
static char g_document[10240];

static void callback(int32_t state, const char* json) {
    ++g_calls;
    g_state = state;
    snprintf(g_document, sizeof(g_document), "%s", json);
}

int main(void) {
    static const char* const expected[3] = {
        FAILED("10000", "Input file not exiists") "\":\"" MISSING "\"}",
        FAILED("20000", "Input file not exiists") "\":\"" MISSING
                                                  "\",\"audio_path\":\"/tmp/orbv-c-host.wav\"}",
        FAILED("30000", "Input file1 not exiists") "1\":\"" MISSING "\",\"movie_path2\":\"" MISSING
                                                   "\",\"export_path\":\"/tmp/orbv-c-host.mov\"}"};
    int failures = 0;
    for (int i = 0; i < 3; ++i) {
        int64_t result = -1;
        g_calls = 0;
        g_state = -1;
        g_document[0] = '\0';
        if (i == 0) result = ORBV_analyze_image(MISSING, NULL, 0, 0, callback);
        if (i == 1) result = ORBV_get_audio(MISSING, "/tmp/orbv-c-host.wav", 0, NULL, callback);
        if (i == 2) {
            result = ORBV_export(MISSING, MISSING, "/tmp/orbv-c-host.mov", NULL, 3840, 1920, 0,
                                 0.0f, 0.0f, ORBV_OFFSET_UNCHANGED, ORBV_OFFSET_UNCHANGED,
                                 ORBV_OFFSET_UNCHANGED, ORBV_OFFSET_UNCHANGED,
                                 ORBV_OFFSET_UNCHANGED, ORBV_OFFSET_UNCHANGED, 0.0f, 0.0f, -1.0f,
                                 -1.0f, 0, "2017:05:01 10:20:30", NULL, callback);
        }
        if (result != 0 || g_calls != 1 || g_state != STATE_FAILED ||
            strcmp(g_document, expected[i]) != 0) {
            fprintf(stderr,
                    "call %d: result %lld, %d callbacks, state %d\n  got      %s\n"
                    "  expected %s\n",
                    i, (long long)result, g_calls, (int)g_state, g_document, expected[i]);
            ++failures;
        }
    }
    return failures == 0 && ORBV_freesize(MISSING) == -1 && ORBV_freesize("/tmp") > 0 ? 0 : 1;
}
