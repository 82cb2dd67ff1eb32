#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// A fresh directory below the system's temporary directory for a benchmark's inputs and
// outputs, removed with its contents at the end.
class BenchDir {
  public:
    explicit BenchDir(const std::string& stem) {
        std::string pattern = std::filesystem::temp_directory_path() / (stem + "-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~BenchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    BenchDir(const BenchDir&) = delete;
    BenchDir& operator=(const BenchDir&) = delete;
    // The path of a file in the directory.
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};
