// get_module_version of Windows libraries built for the test: one with file version 1.2.3.4
// (product version 5.6.7.8) and the same library without a version resource. Built in the
// Windows build only, which names the two files in VERSIONED_LIBRARY and UNVERSIONED_LIBRARY.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "capture_config/file_info.hpp"

namespace {

#if defined(VERSIONED_LIBRARY) && defined(UNVERSIONED_LIBRARY)
constexpr char kVersioned[] = VERSIONED_LIBRARY;
constexpr char kUnversioned[] = UNVERSIONED_LIBRARY;
#else
constexpr char kVersioned[] = "";
constexpr char kUnversioned[] = "";
#endif

// The build names the files by their Unix paths when it cross-builds; Wine's drive Z: is the
// Unix root.
std::string windows_path(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return path;
    }
    std::string result = "Z:" + path;
    std::replace(result.begin(), result.end(), '/', '\\');
    return result;
}

// The file version, not the product version, high word first; a buffer too small for it gets as
// much as fits and a terminator; a library without a version resource gives 0 and an empty
// buffer.
TEST(ModuleVersionWindows, ReadsTheFileVersion) {
    if (kVersioned[0] == '\0') {
        GTEST_SKIP() << "the versioned test libraries are built by the Windows build only";
    }
    struct Case {
        const char* legend;
        std::string path;
        size_t size;
        int32_t result;
        const char* text;
    };
    const Case cases[] = {
        {"file version 1.2.3.4", windows_path(kVersioned), 24, 1, "1.2.3.4"},
        {"a buffer of exactly 8 bytes", windows_path(kVersioned), 8, 1, "1.2.3.4"},
        {"a buffer of 4 bytes is cut", windows_path(kVersioned), 4, 1, "1.2"},
        {"no version resource", windows_path(kUnversioned), 24, 0, ""},
    };
    for (const Case& c : cases) {
        char output[32];
        std::memset(output, 'x', sizeof output);
        EXPECT_EQ(capture_config::get_module_version(c.path.c_str(), output, c.size), c.result)
            << c.legend << ": " << c.path;
        EXPECT_STREQ(output, c.text) << c.legend;
        EXPECT_EQ(output[c.size], 'x') << c.legend << ": nothing written past the buffer";
    }
}

}  // namespace
