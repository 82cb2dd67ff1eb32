// The shared library's dynamic symbol table holds the four functions of the interface and nothing
// else of ours: no C++ symbols, no OpenCV or FFmpeg inlines.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "support/test_support.h"

TEST(Exports, ExactlyTheFourFunctions) {
    const std::string listing =
        orbv_test::run_command("nm -D --defined-only '" ORBV_LIBRARY_FILE "' 2>&1");
    // The linker's own symbols (type A, and the section bounds) are in every shared object.
    const std::set<std::string> linker = {"_init", "_fini", "_edata", "_end", "__bss_start"};
    std::set<std::string> ours;
    std::istringstream lines(listing);
    for (std::string address, type, name; lines >> address >> type >> name;) {
        if (type != "A" && linker.count(name) == 0) ours.insert(name + " (" + type + ")");
    }
    const std::set<std::string> expected = {"ORBV_analyze_image (T)", "ORBV_export (T)",
                                            "ORBV_freesize (T)", "ORBV_get_audio (T)"};
    EXPECT_EQ(ours, expected) << listing;
}
