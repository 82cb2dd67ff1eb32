#include "support/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace orbv_test {

namespace {
thread_local std::vector<CallbackRecord> g_records;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orbv-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

Recorder::Recorder() { g_records.clear(); }

void Recorder::callback(int32_t state, const char* json) {
    g_records.push_back({state, json ? std::string(json) : std::string("<null>")});
}

const std::vector<CallbackRecord>& Recorder::records() const { return g_records; }

CallbackRecord Recorder::final_record() const {
    int finals = 0;
    CallbackRecord last{-1, ""};
    for (const CallbackRecord& r : g_records) {
        if (r.state >= 2) {
            ++finals;
            last = r;
        }
    }
    EXPECT_EQ(finals, 1) << "expected exactly one final callback";
    return last;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace orbv_test
