#include "support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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

std::string json_field(const std::string& document, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    const size_t at = document.find(tag);
    if (at == std::string::npos) return "<missing>";
    const size_t begin = at + tag.size();
    if (begin < document.size() && document[begin] == '"') {
        size_t end = begin + 1;
        while (end < document.size() && document[end] != '"') end += document[end] == '\\' ? 2 : 1;
        return document.substr(begin + 1, std::min(end, document.size()) - begin - 1);
    }
    return document.substr(begin, document.find_first_of(",}", begin) - begin);
}

bool flat_json(const std::string& doc) {
    size_t i = 0;
    auto text = [&] {
        if (i >= doc.size() || doc[i] != '"') return false;
        for (++i; i < doc.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(doc[i]);
            if (c == '"') return ++i, true;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (++i >= doc.size()) return false;
                if (doc[i] == 'u') {
                    if (i + 4 >= doc.size()) return false;
                    for (int k = 1; k <= 4; ++k)
                        if (!std::isxdigit(static_cast<unsigned char>(doc[i + k]))) return false;
                    i += 4;
                } else if (std::string("\"\\/bfnrt").find(doc[i]) == std::string::npos) {
                    return false;
                }
            }
        }
        return false;
    };
    if (doc.empty() || doc[i++] != '{') return false;
    for (;;) {
        if (!text() || i >= doc.size() || doc[i++] != ':') return false;
        if (i < doc.size() && doc[i] == '"') {
            if (!text()) return false;
        } else {
            const size_t start = i;
            while (i < doc.size() && (std::isalnum(static_cast<unsigned char>(doc[i])) ||
                                      doc[i] == '-' || doc[i] == '.'))
                ++i;
            if (i == start) return false;
        }
        if (i >= doc.size()) return false;
        if (doc[i] == '}') return i + 1 == doc.size();
        if (doc[i++] != ',') return false;
    }
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {

// Both the permission check and an actual attempt must refuse, so the answer does not rest on
// the call under test alone.
bool refuses_new_files(const std::string& dir) {
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (::access(dir.c_str(), W_OK) == 0) return false;
    const std::string probe = dir + "/orbv-probe";
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string unwritable_directory() {
    if (::geteuid() != 0) {
        static TempDir dir;
        static const bool made = ::chmod(dir.path().c_str(), 0555) == 0;
        if (made && refuses_new_files(dir.path())) return dir.path();
    }
    for (const char* candidate : {"/proc/sys/kernel", "/proc/sys", "/proc/1"}) {
        if (refuses_new_files(candidate)) return candidate;
    }
    return "";
}

std::string unwritable_file() {
    if (::geteuid() != 0) {
        static TempDir dir;
        static const std::string path = dir.file("read-only");
        static const bool made = (write_file(path, "x"), ::chmod(path.c_str(), 0444) == 0);
        if (made && ::access(path.c_str(), W_OK) != 0) return path;
    }
    for (const char* candidate : {"/proc/sys/kernel/osrelease", "/proc/version"}) {
        if (::access(candidate, F_OK) != 0 || ::access(candidate, W_OK) == 0) continue;
        const int fd = ::open(candidate, O_WRONLY);
        if (fd >= 0) {
            ::close(fd);
            continue;
        }
        return candidate;
    }
    return "";
}

}  // namespace orbv_test
