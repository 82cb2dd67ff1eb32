#include "support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

// Present only in sanitizer builds with LeakSanitizer: a leak check that returns.
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

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
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::vector<std::string> listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Both the permission check and an actual attempt must refuse, so the answer does not rest on the
// call under test alone.
std::string unwritable_directory() {
    static TempDir own;
    if (::geteuid() != 0) ::chmod(own.path().c_str(), 0555);
    for (const std::string& dir : {own.path(), std::string("/proc/sys/kernel")}) {
        const std::string probe = dir + "/orbv-probe";
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd >= 0) ::close(fd), ::unlink(probe.c_str());
        if (fd < 0 && ::access(dir.c_str(), W_OK) != 0) return dir;
    }
    return "";
}

std::string run_command(const std::string& command, int* status) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("popen failed: " + command);
    std::string out;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof(buf), pipe)) > 0;) out.append(buf, n);
    const int raw = pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
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

namespace {
int g_record_file = -1;  // the child's record file; -1 in the parent
}

// A record is a line: the state, a space, the document (flat JSON holds no raw line feed). One
// write each, to a file opened for appending, so nothing sent before a crash is lost.
void IsolatedCall::callback(int32_t state, const char* json) {
    if (g_record_file < 0) std::abort();  // only for bodies run in a child
    const std::string line = std::to_string(state) + " " + (json ? json : "<null>") + "\n";
    if (::write(g_record_file, line.data(), line.size()) != ssize_t(line.size())) _exit(99);
}

IsolatedOutcome IsolatedCall::run(const std::function<void()>& body, double limit_seconds) {
    TempDir dir;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        g_record_file = ::open(dir.file("records").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        int code = 97;  // the body threw
        try {
            body();
            code = __lsan_do_recoverable_leak_check && __lsan_do_recoverable_leak_check() ? 98 : 0;
        } catch (...) {
        }
        _exit(code);
    }
    IsolatedOutcome o;
    for (int waited = 0; pid > 0 && ::waitpid(pid, &o.status, WNOHANG) == 0; ::usleep(5000)) {
        if (++waited > limit_seconds * 200) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            o.status = -1;
        }
    }
    std::istringstream lines(read_file(dir.file("records")));
    for (std::string line; std::getline(lines, line);) {
        const size_t space = line.find(' ');
        if (space > 0 && space != line.npos && line.find_first_not_of("0123456789") == space) {
            o.records.push_back({std::stoi(line), line.substr(space + 1)});
        } else if (!o.records.empty()) {
            o.records.back().document += "\n" + line;  // a raw line feed: no flat JSON
        }
    }
    return o;
}

}  // namespace orbv_test
