// Log lines of calls on several threads at once stay whole: nothing between a text and its newline.
#include "util/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

TEST(Log, LinesOfThreadsAtOnceStayWhole) {
    constexpr int kThreads = 8, kLines = 2000;
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                orbv::log_message(orbv::LOG_TRACE, "[thread %d] line %d", t, i);
        });
    }
    for (std::thread& t : threads) t.join();
    std::istringstream lines(testing::internal::GetCapturedStderr());
    std::set<std::string> seen;
    for (std::string line; std::getline(lines, line);) {
        int t = -1, i = -1;
        char rest = 0;
        EXPECT_EQ(std::sscanf(line.c_str(), "[thread %d] line %d%c", &t, &i, &rest), 2) << line;
        seen.insert(line);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}
