// File version information: on this system files carry none, so the queries answer as Windows
// answers for a file without a version resource, and VerQueryValueA finds nothing in a block.

#include <gtest/gtest.h>

#include <string>

#include "platform/win32.hpp"

namespace {

TEST(FileVersionInfo, AFileWithoutVersionInformation) {
    char self[4096];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    struct Case {
        const char* legend;
        std::string path;
        DWORD error;
    };
    const Case cases[] = {
        {"the program itself", self, ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"a system file", "/etc/hostname", ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"a missing folder", "/nonexistent-morvane/file.exe", ERROR_FILE_NOT_FOUND},
        {"a file taken for a folder", "/etc/hostname/file.exe", ERROR_PATH_NOT_FOUND},
        {"a missing file in a folder that exists", "/tmp/morvane-no-such-file.exe",
         ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        DWORD handle = 0xDEAD;
        SetLastError(0);
        EXPECT_EQ(GetFileVersionInfoSizeA(c.path.c_str(), &handle), 0u) << c.legend;
        EXPECT_EQ(GetLastError(), c.error) << c.legend;
        EXPECT_EQ(handle, 0u) << c.legend << ": the handle is always set to 0";
        char block[64];
        SetLastError(0);
        EXPECT_FALSE(GetFileVersionInfoA(c.path.c_str(), 0, sizeof block, block)) << c.legend;
        EXPECT_EQ(GetLastError(), c.error) << c.legend;
    }

    char block[64] = {};
    void* value = block;
    UINT length = 99;
    EXPECT_FALSE(VerQueryValueA(block, "\\", &value, &length));
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(length, 0u);
}

}  // namespace
