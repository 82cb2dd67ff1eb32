#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "library.h"

namespace orbv_tool {

namespace {

template <class Fn>
bool resolve(void* handle, const char* name, Fn* fn, std::string* error) {
    *fn = reinterpret_cast<Fn>(dlsym(handle, name));
    if (*fn == nullptr) *error = std::string("missing symbol ") + name;
    return *fn != nullptr;
}

std::string executable_dir() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return ".";
    const std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Absolute candidates only: the library is never picked up from the current directory.
std::vector<std::string> candidates() {
    const char* named = std::getenv("ORBV_LIBRARY");
    if (named != nullptr && *named != '\0') return {named};
    const std::string dir = executable_dir();
    return {dir + "/../" ORBV_LIBDIR "/" ORBV_SONAME, dir + "/../lib/" ORBV_SONAME, ORBV_SONAME};
}

}  // namespace

bool load_library(Library* library, std::string* error) {
    // Never closed: the functions are used until the process ends.
    void* handle = nullptr;
    for (const std::string& name : candidates()) {
        handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr) break;
        const char* reason = dlerror();
        *error = reason != nullptr ? reason : name;
    }
    if (handle == nullptr) return false;
    library->handle = handle;
    if (!resolve(handle, "ORBV_analyze_image", &library->analyze_image, error) ||
        !resolve(handle, "ORBV_export", &library->export_panorama, error) ||
        !resolve(handle, "ORBV_get_audio", &library->get_audio, error) ||
        !resolve(handle, "ORBV_freesize", &library->freesize, error))
        return false;
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(library->freesize), &info) != 0 &&
        info.dli_fname != nullptr) {
        char* real = ::realpath(info.dli_fname, nullptr);
        library->file = real != nullptr ? real : info.dli_fname;
        std::free(real);
    }
    return true;
}

// dlsym on a handle searches the library and then the libraries it depends on.
void* find_symbol(void* handle, const char* name) {
    return handle != nullptr ? ::dlsym(handle, name) : nullptr;
}

}  // namespace orbv_tool
