// split_file_name on paths of every shape, and get_module_version of files without version
// information. Runs natively and under Wine; the version of a versioned file is tested in the
// Windows build only (version_windows_test.cpp).

#include "capture_config/file_info.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "scratch.hpp"

namespace {

// The name returned and the extension handed back; the text before the name is left as it was,
// only the name and extension are lowered, and the last "." is cut to a zero byte.
TEST(SplitFileName, ReturnsTheLoweredNameAndCutsTheLastExtension) {
    struct Case {
        const char* legend;
        const char* path;
        const char* name;
        const char* extension;  // null: none
        const char* buffer;     // the whole buffer afterwards, up to the first zero byte
    };
    const Case cases[] = {
        {"a Windows path", "C:\\Data\\Scan.RAW", "scan", "raw", "C:\\Data\\scan"},
        {"two extensions: the last is cut", "archive.tar.gz", "archive.tar", "gz", "archive.tar"},
        {"a leading dot is no extension", ".profile", ".profile", nullptr, ".profile"},
        {"a path ending in a backslash", "C:\\Data\\", "", nullptr, "C:\\Data\\"},
        {"a dot in a folder name only", "C:\\My.Dir\\README", "readme", nullptr,
         "C:\\My.Dir\\readme"},
        {"a name with no folder", "Name", "name", nullptr, "name"},
        {"one character", "X", "x", nullptr, "x"},
        {"a name that ends in a dot", "File.", "file", "", "file"},
        {"a leading dot after a folder", "C:\\.Hidden", "", "hidden", "C:\\"},
        {"only \"\\\" separates: \"/\" is part of the name", "a/B/C.Txt", "a/b/c", "txt", "a/b/c"},
        {"a lone backslash is its own name", "\\", "\\", nullptr, "\\"},
        {"an empty path", "", "", nullptr, ""},
        {"letters beyond ASCII stay", "\xC4rger.TXT", "\xC4rger", "txt", "\xC4rger"},
    };
    for (const Case& c : cases) {
        char buffer[64];
        std::strcpy(buffer, c.path);
        char* extension = buffer;  // anything but null: the call must clear it
        const char* name = capture_config::split_file_name(buffer, &extension);
        EXPECT_STREQ(name, c.name) << c.legend;
        EXPECT_GE(name, buffer) << c.legend;
        EXPECT_LE(name, buffer + std::strlen(c.path)) << c.legend;
        if (c.extension == nullptr) {
            EXPECT_EQ(extension, nullptr) << c.legend;
        } else {
            ASSERT_NE(extension, nullptr) << c.legend;
            EXPECT_STREQ(extension, c.extension) << c.legend;
        }
        EXPECT_STREQ(buffer, c.buffer) << c.legend;
    }
}

class ModuleVersion : public capture_test::Scratch {};

// A file without version information, a missing file, a path too long for the 260-character
// buffer and the test program itself (built without a version resource) give 0 and an empty
// output; nothing is printed.
TEST_F(ModuleVersion, FilesWithoutVersionInformationGiveNothing) {
    struct Case {
        const char* legend;
        std::string path;
        bool null_path;
    };
    const Case cases[] = {
        {"a text file", file_with("no version here\n", ".txt").string(), false},
        {"an empty file", file_with("", ".dll").string(), false},
        {"a missing file", scratch_path(".missing").string(), false},
        {"a path of 260 characters", std::string(260, 'p'), false},
        {"a path of 1000 characters", std::string(1000, 'p'), false},
        {"the test program itself", "", true},
    };
    for (const Case& c : cases) {
        char output[32];
        std::memset(output, 'x', sizeof output);
        int32_t result = -1;
        const std::string out = capture_test::stdout_of([&] {
            result = capture_config::get_module_version(c.null_path ? nullptr : c.path.c_str(),
                                                        output, sizeof output);
        });
        EXPECT_EQ(result, 0) << c.legend;
        EXPECT_EQ(output[0], '\0') << c.legend;
        EXPECT_EQ(out, "") << c.legend;
    }
}

}  // namespace
