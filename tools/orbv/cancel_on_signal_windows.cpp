#include <windows.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <random>

#include "cancel_on_signal.h"

// Windows has no signals: Ctrl+C, Ctrl+Break and the console's closing reach a handler that
// Windows runs on a thread of its own, where ordinary calls are allowed. The first creates the
// cancel file, the second is absorbed, the third ends the tool; the library's unfinished file
// stays, named for what it is.
namespace orbv_tool {

namespace {

namespace fs = std::filesystem;

constexpr int kExitCancelled = 3;

fs::path g_cancel_path, g_private_dir;
std::atomic<int> g_count{0};
std::atomic<bool> g_created_cancel{false}, g_first_done{false};

void remove_cancel_file() {
    std::error_code ec;
    if (g_created_cancel) fs::remove(g_cancel_path, ec);
    if (!g_private_dir.empty()) fs::remove(g_private_dir, ec);
}

BOOL WINAPI on_control(DWORD) {
    const int count = ++g_count;
    if (count == 1) {
        HANDLE file = CreateFileW(g_cancel_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            g_created_cancel = true;
            CloseHandle(file);
        }
        std::fprintf(stderr, "\norbv: cancelling (a third Ctrl+C stops at once)\n");
        g_first_done = true;
    } else if (count >= 3) {
        for (int i = 0; i < 1000 && !g_first_done; ++i) Sleep(1);
        remove_cancel_file();
        std::fprintf(stderr, "\norbv: stopped\n");
        ExitProcess(kExitCancelled);
    }
    return TRUE;
}

// A folder of its own under the user's temporary folder, so that no file left behind by
// another run can cancel this one.
fs::path private_directory() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return fs::path();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path dir = fs::path(temp) / ("orbv-" + std::to_string(random()));
        if (CreateDirectoryW(dir.c_str(), nullptr)) return dir;
    }
    return fs::path();
}

}  // namespace

CancelOnSignal::CancelOnSignal(const std::string& cancel_path) {
    if (cancel_path.empty()) {
        g_private_dir = private_directory();
        if (g_private_dir.empty()) {
            std::fprintf(stderr,
                         "orbv: warning: no private directory for the cancel file; "
                         "Ctrl+C ends the tool at once\n");
            return;
        }
        dir_ = g_private_dir.u8string();
        g_cancel_path = g_private_dir / "cancel";
    } else {
        g_cancel_path = fs::u8path(cancel_path);
    }
    path_ = g_cancel_path.u8string();
    handling_ = SetConsoleCtrlHandler(on_control, TRUE) != 0;
}

CancelOnSignal::~CancelOnSignal() {
    if (handling_) SetConsoleCtrlHandler(on_control, FALSE);
    remove_cancel_file();
}

}  // namespace orbv_tool
