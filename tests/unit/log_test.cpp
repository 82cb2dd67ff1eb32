// Log lines of calls on several threads at once (separate exported calls may run side by side) stay
// whole: no text of one call between another's text and its newline.
#include "util/log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

TEST(Log, LinesOfThreadsAtOnceStayWhole) {
    constexpr int kThreads = 8, kLines = 2000;
    orbv_test::TempDir dir;
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    FILE* sink = std::fopen(dir.file("stderr").c_str(), "w");
    ::dup2(::fileno(sink), STDERR_FILENO);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                orbv::log_message(orbv::LOG_TRACE, "[thread %d] line %d", t, i);
        });
    }
    for (std::thread& t : threads) t.join();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::fclose(sink);
    std::istringstream lines(orbv_test::read_file(dir.file("stderr")));
    std::set<std::string> seen;
    for (std::string line; std::getline(lines, line);) {
        int t = -1, i = -1;
        char rest = 0;
        EXPECT_EQ(std::sscanf(line.c_str(), "[thread %d] line %d%c", &t, &i, &rest), 2) << line;
        seen.insert(line);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}
