// The tests' calls of Windows, run under Wine. A program there cannot start the Linux ffmpeg,
// ffprobe or exiftool, so each shell command goes to cmake/wine-run through the directory it
// names, with the Windows paths in it written as Wine's Unix paths, and runs natively.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <regex>
#include <stdexcept>
#include <thread>

#include "support/test_support.h"

namespace orbv_test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path dir = fs::temp_directory_path() / ("orbv-test-" + std::to_string(random()));
        // Forward slashes, as the tests write the documents they expect without escapes.
        if (fs::create_directory(dir)) path_ = dir.generic_u8string();
    }
    if (path_.empty()) throw std::runtime_error("no temporary directory");
}

bool exists(const std::string& path) { return fs::exists(fs::u8path(path)); }

// Read-only directories do not stop writing on Windows.
std::string unwritable_directory() { return ""; }

std::string full_volume() { return ""; }

namespace {
std::string unix_path(const std::string& windows_path) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    static const auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (to_unix == nullptr) throw std::runtime_error("shell commands need Wine");
    char* path = to_unix(fs::u8path(windows_path).wstring().c_str());
    const std::string unix = path != nullptr ? path : windows_path;
    HeapFree(GetProcessHeap(), 0, path);
    return unix;
}
}  // namespace

std::string run_command(const std::string& command, int* status) {
    static const std::regex windows_path(R"([A-Za-z]:[\\/][^' "]*)");
    static std::atomic<int> count{0};
    std::string translated;
    auto at = command.cbegin();
    for (std::sregex_iterator m(command.begin(), command.end(), windows_path), end; m != end; ++m) {
        translated.append(at, (*m)[0].first) += unix_path(m->str());
        at = (*m)[0].second;
    }
    translated.append(at, command.cend());
    const char* relay = std::getenv("ORBV_TEST_RELAY");
    if (relay == nullptr) throw std::runtime_error("no command relay: " + command);
    const std::string request = std::string("Z:") + relay + "/" + std::to_string(++count);
    write_file(request + ".tmp", translated);
    fs::rename(request + ".tmp", request + ".cmd");
    while (!exists(request + ".status")) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (status != nullptr) *status = std::atoi(read_file(request + ".status").c_str());
    return read_file(request + ".out");
}

namespace {
thread_local std::vector<CallbackRecord>* g_isolated = nullptr;
}

// No fork: the body runs in the test program, so a crash ends the program, not the case.
IsolatedOutcome IsolatedCall::run(const std::function<void()>& body, double) {
    IsolatedOutcome o;
    g_isolated = &o.records;
    try {
        body();
        o.status = 0;
    } catch (...) {
        o.status = 97 << 8;
    }
    g_isolated = nullptr;
    return o;
}

void IsolatedCall::callback(int32_t state, const char* json) {
    if (g_isolated == nullptr) std::abort();
    g_isolated->push_back({state, json ? std::string(json) : std::string("<null>")});
}

bool names_take_any_bytes() { return false; }

}  // namespace orbv_test
