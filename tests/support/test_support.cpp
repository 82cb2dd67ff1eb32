#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace orbv_test {

namespace {
thread_local std::vector<CallbackRecord> g_records;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::u8path(path_), ec);
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
        if (r.state >= 2) ++finals, last = r;
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
            if (c != '\\') continue;
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

std::string escaped(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string probe(const std::string& path, const std::string& stream, const std::string& entry) {
    std::string out =
        run_command("ffprobe -v error -select_streams " + stream + ":0 -show_entries " + entry +
                    " -of default=noprint_wrappers=1:nokey=1 " + shell_quote(path));
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

int64_t probe_int(const std::string& path, const std::string& stream, const std::string& entry) {
    const std::string text = probe(path, stream, entry);
    return text.empty() ? -1 : std::atoll(text.c_str());
}

double luma_psnr(const std::string& a, const std::string& b) {
    const std::string out = run_command("ffmpeg -nostats -i " + shell_quote(a) + " -i " +
                                        shell_quote(b) + " -lavfi psnr -f null - 2>&1");
    const size_t at = out.find("PSNR y:");
    return at == std::string::npos ? -1 : std::strtod(out.c_str() + at + 7, nullptr);
}

std::string IsolatedOutcome::describe() const {
    std::string text =
        status < 0 ? "killed after the time limit" : "waitpid status " + std::to_string(status);
    for (const CallbackRecord& r : records)
        text += "\n  " + std::to_string(r.state) + " " + r.document;
    return text;
}

}  // namespace orbv_test
