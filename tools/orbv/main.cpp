// orbv: command-line host of liborbv.so. It loads the library with dlopen and calls the four
// exported functions the way the viewer does, printing what the callback receives.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "orbv.h"

namespace {

using FreesizeFn = int64_t (*)(const char*);
using GetAudioFn = int32_t (*)(const char*, const char*, int32_t, const char*, ProgressCallback);

int g_final_state = -1;

// Prints every document the library sends, one line each, and remembers the final state.
void print_document(int32_t state, const char* json) {
    std::printf("state %d: %s\n", state, json ? json : "(null)");
    std::fflush(stdout);
    if (state >= STATE_DONE) g_final_state = state;
}

std::string executable_dir() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return ".";
    buf[n] = '\0';
    std::string path(buf);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// ORBV_LIBRARY names the library explicitly; otherwise it is looked for beside the tool.
void* load_library() {
    if (const char* env = std::getenv("ORBV_LIBRARY")) return dlopen(env, RTLD_NOW | RTLD_LOCAL);
    const std::string dir = executable_dir();
    for (const std::string& candidate :
         {dir + "/../lib/liborbv.so", dir + "/liborbv.so", std::string("liborbv.so")}) {
        if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
    }
    return nullptr;
}

int usage() {
    std::fprintf(stderr,
                 "usage: orbv freesize PATH\n"
                 "       orbv audio MOVIE OUT [--bit-rate N] [--cancel PATH]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    void* lib = load_library();
    if (lib == nullptr) {
        std::fprintf(stderr, "orbv: cannot load liborbv.so: %s\n", dlerror());
        return 1;
    }
    const std::string command = argv[1];
    if (command == "freesize" && argc == 3) {
        auto freesize = reinterpret_cast<FreesizeFn>(dlsym(lib, "ORBV_freesize"));
        const int64_t bytes = freesize(argv[2]);
        std::printf("%lld bytes free\n", static_cast<long long>(bytes));
        return bytes >= 0 ? 0 : 1;
    }
    if (command == "audio" && argc >= 4) {
        int32_t bit_rate = 0;
        const char* cancel = nullptr;
        for (int i = 4; i < argc; ++i) {
            const std::string option = argv[i];
            if (option == "--bit-rate" && i + 1 < argc) {
                bit_rate = std::atoi(argv[++i]);
            } else if (option == "--cancel" && i + 1 < argc) {
                cancel = argv[++i];
            } else {
                return usage();
            }
        }
        auto get_audio = reinterpret_cast<GetAudioFn>(dlsym(lib, "ORBV_get_audio"));
        get_audio(argv[2], argv[3], bit_rate, cancel, &print_document);
        return g_final_state == STATE_DONE ? 0 : 1;
    }
    return usage();
}
