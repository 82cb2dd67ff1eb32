#pragma once

// Helpers of the fuzz targets that read through a file: one scratch file per process, in
// memory-backed /dev/shm when there is one.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace orbv_fuzz {

inline const std::string& scratch_path(const char* extension) {
    static const std::string path = [extension] {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string p = std::string(dir) + "/orbv-fuzz-" + std::to_string(getpid()) + extension;
        static std::string removed;
        removed = p;
        std::atexit([] { std::remove(removed.c_str()); });
        return p;
    }();
    return path;
}

// A scratch file of its own for each name, removed when the process ends.
inline std::string scratch_file(const std::string& name) {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    const std::string path =
        std::string(dir) + "/orbv-fuzz-" + std::to_string(getpid()) + "-" + name;
    static std::vector<std::string>* made = new std::vector<std::string>;
    if (made->empty()) {
        std::atexit([] {
            for (const std::string& p : *made) std::remove(p.c_str());
        });
    }
    made->push_back(path);
    return path;
}

inline void write_bytes(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    if (std::fclose(f) != 0) std::abort();
}

inline std::string read_bytes(const std::string& path) {
    std::string bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) std::abort();
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

}  // namespace orbv_fuzz
