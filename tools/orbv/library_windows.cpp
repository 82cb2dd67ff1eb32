#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "library.h"

namespace orbv_tool {

namespace {

namespace fs = std::filesystem;

template <class Fn>
bool resolve(HMODULE module, const char* name, Fn* fn, std::string* error) {
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (*fn == nullptr) *error = std::string("missing symbol ") + name;
    return *fn != nullptr;
}

fs::path module_file(HMODULE module) {
    std::wstring buffer(32768, L'\0');
    const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(n);
    return fs::path(buffer);
}

// Absolute candidates only: orbv.dll beside the tool, then ../bin (the installed layout).
std::vector<fs::path> candidates() {
    const char* named = std::getenv("ORBV_LIBRARY");
    if (named != nullptr && *named != '\0') return {fs::u8path(named)};
    const fs::path dir = module_file(nullptr).parent_path();
    return {dir / ORBV_SONAME, dir / ".." / "bin" / ORBV_SONAME};
}

}  // namespace

bool load_library(Library* library, std::string* error) {
    // Never freed: the functions are used until the process ends.
    HMODULE module = nullptr;
    for (const fs::path& name : candidates()) {
        module = LoadLibraryExW(name.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (module != nullptr) break;
        *error = name.u8string() + ": Windows error " + std::to_string(GetLastError());
    }
    if (module == nullptr) return false;
    library->handle = module;
    if (!resolve(module, "ORBV_analyze_image", &library->analyze_image, error) ||
        !resolve(module, "ORBV_export", &library->export_panorama, error) ||
        !resolve(module, "ORBV_get_audio", &library->get_audio, error) ||
        !resolve(module, "ORBV_freesize", &library->freesize, error))
        return false;
    library->file = fs::weakly_canonical(module_file(module)).u8string();
    return true;
}

// orbv.dll exports only its four functions: FFmpeg's and OpenCV's are not reachable from here.
void* find_symbol(void* handle, const char* name) {
    return handle != nullptr
               ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name))
               : nullptr;
}

}  // namespace orbv_tool
