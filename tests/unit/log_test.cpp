// The diagnostic log: one undecorated line per call on standard error.
#include "util/log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

using namespace orbv;

namespace {

// Runs fn with standard error sent to a file and returns what was written.
std::string capture_stderr(const std::function<void()>& fn) {
    orbv_test::TempDir dir;
    const std::string path = dir.file("stderr");
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    FILE* sink = std::fopen(path.c_str(), "w");
    ::dup2(::fileno(sink), STDERR_FILENO);
    fn();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::fclose(sink);
    return orbv_test::read_file(path);
}

}  // namespace

TEST(LogMessage, WritesTheFormattedTextAndOneNewline) {
    int result = 0;
    EXPECT_EQ(capture_stderr([&] { result = log_message(LOG_TRACE, "x=%d", 5); }), "x=5\n");
    EXPECT_EQ(result, '\n');
    EXPECT_EQ(capture_stderr([] { log_message(LOG_ERROR, "x=%d", 5); }), "x=5\n")
        << "the level changes nothing";
}

// ORBV_LOG is read at every line: one process sees each setting take effect at once.
TEST(LogMessage, OrbvLogChoosesTheLinesWritten) {
    const struct {
        const char* setting;
        const char* written;
    } cases[] = {{nullptr, "t=1\ne=3\n"}, {"all", "t=1\ne=3\n"}, {"error", "e=3\n"}, {"none", ""},
                 {"", "t=1\ne=3\n"},      {"error", "e=3\n"}};
    for (const auto& c : cases) {
        if (c.setting != nullptr) ::setenv("ORBV_LOG", c.setting, 1);
        if (c.setting == nullptr) ::unsetenv("ORBV_LOG");
        EXPECT_EQ(capture_stderr([] {
                      log_message(LOG_TRACE, "t=%d", 1);
                      log_message(LOG_ERROR, "e=%d", 3);
                  }),
                  c.written)
            << (c.setting ? c.setting : "unset");
    }
    ::unsetenv("ORBV_LOG");
}

TEST(LogMessage, KeepsTrailingSpacesAndAddsNoDecoration) {
    const std::string line = capture_stderr([] {
        log_message(LOG_ERROR, "[orbvutil remove] file remoove error, errnum:%d errstr:%s ", -1,
                    "Colud not convert wide character");
    });
    EXPECT_EQ(line,
              "[orbvutil remove] file remoove error, errnum:-1 errstr:Colud not convert wide "
              "character \n");
}

TEST(LogMessage, OneLinePerCallInOrder) {
    const std::string lines = capture_stderr([] {
        log_message(LOG_TRACE, "[_ORBV_export]");
        log_message(LOG_TRACE, "[ORBVX_get_audio] state = %d", -1);
        log_message(LOG_TRACE, "%s", "");
    });
    EXPECT_EQ(lines, "[_ORBV_export]\n[ORBVX_get_audio] state = -1\n\n");
}

TEST(LogMessage, AbsentTextsPrintAsNull) {
    const char* absent = nullptr;
    EXPECT_EQ(capture_stderr([&] {
                  log_message(LOG_TRACE,
                              "[ORBV_analyze_movie] thumbnail_path:%s:", or_null(absent));
              }),
              "[ORBV_analyze_movie] thumbnail_path:(null):\n");
    EXPECT_STREQ(or_null("text"), "text");
}

// Calls on several threads at once (separate exported calls may run side by side) still give
// whole lines: no text of one call between another's text and its newline.
TEST(LogMessage, LinesOfThreadsAtOnceStayWhole) {
    constexpr int kThreads = 8, kLines = 2000;
    const std::string out = capture_stderr([] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < kLines; ++i)
                    log_message(LOG_TRACE, "[thread %d] line %d", t, i);
            });
        }
        for (std::thread& t : threads) t.join();
    });
    std::istringstream lines(out);
    std::string line;
    std::set<std::string> seen;
    while (std::getline(lines, line)) {
        int t = -1, i = -1;
        char rest = 0;
        EXPECT_EQ(std::sscanf(line.c_str(), "[thread %d] line %d%c", &t, &i, &rest), 2) << line;
        seen.insert(line);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}
