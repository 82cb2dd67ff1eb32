// The C boundary: whatever the body throws ends as the operation's x9999 document, never as an
// exception in the host.
#include "api/boundary.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "util/error.h"

using namespace orbv;

namespace {

std::vector<std::pair<int32_t, std::string>> g_seen;
void record(int32_t state, const char* json) { g_seen.emplace_back(state, json); }

struct NotAStdException {};

// An exported function in miniature: the body may throw, the guard removes nothing here but
// reports the analysis x9999 document with the thrown text.
template <class Body>
int64_t guarded_call(ProgressCallback callback, Body body, int* cleanups) {
    return run_guarded(
        [&]() -> int64_t {
            body();
            deliver(callback, STATE_DONE, movie_error_json("/v/m.mov", "ok", "", 0, 0));
            return 0;
        },
        [&](const char* text) -> int64_t {
            ++*cleanups;
            return report_thrown(callback, [&] {
                return movie_error_json("/v/m.mov", errors::kAnalysisUnknown, text, -1);
            });
        });
}

std::string unknown_error(const std::string& text) {
    return "{\"errnum\":\"19999\",\"errstr\":\"an unknown error occurred\",\"api_errnum\":-1,"
           "\"api_errstr\":\"" +
           text + "\",\"movie_path\":\"/v/m.mov\"}";
}

}  // namespace

TEST(RunGuarded, EveryKindOfExceptionBecomesTheUnknownErrorDocument) {
    struct Case {
        std::function<void()> thrower;
        std::string text;
    };
    const std::vector<Case> cases = {
        {[] { throw Error("Could not open /v/m.mov"); }, "Could not open /v/m.mov"},
        {[] { throw "Input/output error"; }, "Input/output error"},
        {[] { throw std::bad_alloc(); }, std::bad_alloc().what()},
        {[] { throw std::out_of_range("matrix"); }, "matrix"},
        {[] { throw NotAStdException(); }, "unknown exception"},
        {[] { throw 42; }, "unknown exception"},
    };
    for (const Case& c : cases) {
        g_seen.clear();
        int cleanups = 0;
        EXPECT_EQ(guarded_call(record, c.thrower, &cleanups), -1) << c.text;
        EXPECT_EQ(cleanups, 1);
        ASSERT_EQ(g_seen.size(), 1u) << c.text;
        EXPECT_EQ(g_seen[0].first, STATE_FAILED);
        EXPECT_EQ(g_seen[0].second, unknown_error(c.text));
    }
}

TEST(RunGuarded, WithoutCallbackReturnsZeroAndStillCleansUp) {
    int cleanups = 0;
    g_seen.clear();
    EXPECT_EQ(guarded_call(
                  nullptr, [] { throw std::bad_alloc(); }, &cleanups),
              0);
    EXPECT_EQ(guarded_call(
                  nullptr, [] { throw NotAStdException(); }, &cleanups),
              0);
    EXPECT_EQ(cleanups, 2);
    EXPECT_TRUE(g_seen.empty());
}

TEST(RunGuarded, PassesTheBodysResultThrough) {
    int cleanups = 0;
    g_seen.clear();
    EXPECT_EQ(guarded_call(
                  record, [] {}, &cleanups),
              0);
    EXPECT_EQ(cleanups, 0);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].first, STATE_DONE);
    EXPECT_EQ(run_guarded([]() -> int64_t { return 12345678901LL; },
                          [](const char*) -> int64_t { return -1; }),
              12345678901LL);
}

TEST(RunGuarded, AFailingReportStillReturnsToTheHost) {
    // Reporting itself throws (memory is gone): the call must still return, with 0.
    const int32_t result = run_guarded([]() -> int32_t { throw std::bad_alloc(); },
                                       [](const char*) -> int32_t { throw std::bad_alloc(); });
    EXPECT_EQ(result, 0);
}

TEST(RunGuarded, AThrowingCallbackDoesNotEscape) {
    // A host callback that throws C++ exceptions must not unwind through the library either.
    ProgressCallback throwing = [](int32_t, const char*) { throw std::runtime_error("host"); };
    int cleanups = 0;
    EXPECT_EQ(guarded_call(
                  throwing, [] {}, &cleanups),
              0);
    EXPECT_EQ(cleanups, 1);
}
