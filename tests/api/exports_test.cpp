// The shared library's dynamic symbol table holds the four functions of the interface and
// nothing else of ours: no C++ symbols, no OpenCV or FFmpeg inlines.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), pipe)) > 0) out.append(buf, n);
    ::pclose(pipe);
    return out;
}

// Symbols the linker itself defines in every shared object.
bool linker_symbol(const std::string& type, const std::string& name) {
    static const std::set<std::string> own = {"_init", "_fini", "_edata", "_end", "__bss_start"};
    return type == "A" || own.count(name) != 0;
}

}  // namespace

TEST(Exports, ExactlyTheFourFunctions) {
    const std::string listing = run("nm -D --defined-only '" ORBV_LIBRARY_FILE "' 2>&1");
    std::set<std::string> ours;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (!(fields >> address >> type >> name)) continue;
        if (!linker_symbol(type, name)) ours.insert(name + " (" + type + ")");
    }
    const std::set<std::string> expected = {"ORBV_analyze_image (T)", "ORBV_export (T)",
                                            "ORBV_freesize (T)", "ORBV_get_audio (T)"};
    EXPECT_EQ(ours, expected) << listing;
}
