// FormatMessageA, LocalAlloc/LocalFree and GlobalAlloc/GlobalFree, checked against the Windows
// behaviour they stand for.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win32.hpp"

namespace {

constexpr DWORD kFromSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
const DWORD kNeutralDefault = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

// The system's English texts, byte for byte, for codes the layer sets.
TEST(FormatMessage, GivesTheSystemTextIntoTheCallersBuffer) {
    struct Case {
        const char* legend;
        DWORD code;
        const char* text;
    };
    const Case cases[] = {
        {"file not found", ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
        {"access denied", ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
        {"invalid parameter", ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
        {"invalid handle", ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
        {"sharing violation", ERROR_SHARING_VIOLATION,
         "The process cannot access the file because it is being used by another process.\r\n"},
        {"device gone", ERROR_DEVICE_NOT_CONNECTED, "The device is not connected.\r\n"},
        {"pending", ERROR_IO_PENDING, "Overlapped I/O operation is in progress.\r\n"},
        {"no version resource", ERROR_RESOURCE_TYPE_NOT_FOUND,
         "The specified resource type cannot be found in the image file.\r\n"},
        {"inserts are kept", ERROR_BAD_EXE_FORMAT, "%1 is not a valid Win32 application.\r\n"},
        {"success", ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    };
    for (const Case& c : cases) {
        char buffer[512];
        std::memset(buffer, 'X', sizeof buffer);
        const DWORD length =
            FormatMessageA(kFromSystem, nullptr, c.code, kNeutralDefault, buffer, 512, nullptr);
        EXPECT_EQ(length, std::strlen(c.text)) << c.legend;
        EXPECT_STREQ(buffer, c.text) << c.legend;
    }
}

// An allocated text is a LocalAlloc'd block of the text and its terminator, released with
// LocalFree, which returns null.
TEST(FormatMessage, AllocatesTheTextForLocalFree) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                                        nullptr, ERROR_ACCESS_DENIED, kNeutralDefault,
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_EQ(length, 19u);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Access is denied.\r\n");
    EXPECT_EQ(LocalFree(text), nullptr);
}

// What fails, and with which code: 0 is returned and nothing is allocated.
TEST(FormatMessage, FailuresReturnZeroWithTheirCode) {
    struct Case {
        const char* legend;
        DWORD flags;
        DWORD code;
        DWORD language;
        DWORD size;
        DWORD error;
    };
    const Case cases[] = {
        {"an unknown code", kFromSystem, 0x2BAD, kNeutralDefault, 512, ERROR_MR_MID_NOT_FOUND},
        {"another unknown code", kFromSystem, 123456, 0, 512, ERROR_MR_MID_NOT_FOUND},
        {"a buffer too small for text and terminator", kFromSystem, ERROR_ACCESS_DENIED,
         kNeutralDefault, 19, ERROR_INSUFFICIENT_BUFFER},
        {"a language without texts", kFromSystem, ERROR_ACCESS_DENIED,
         MAKELANGID(0x07, SUBLANG_DEFAULT), 512, ERROR_RESOURCE_LANG_NOT_FOUND},
        {"inserts without IGNORE_INSERTS or arguments", FORMAT_MESSAGE_FROM_SYSTEM,
         ERROR_BAD_EXE_FORMAT, kNeutralDefault, 512, ERROR_INVALID_PARAMETER},
        {"no source", FORMAT_MESSAGE_IGNORE_INSERTS, ERROR_ACCESS_DENIED, kNeutralDefault, 512,
         ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        char buffer[512] = "untouched";
        SetLastError(0);
        EXPECT_EQ(FormatMessageA(c.flags, nullptr, c.code, c.language, buffer, c.size, nullptr), 0u)
            << c.legend;
        EXPECT_EQ(GetLastError(), c.error) << c.legend;
    }
    char* text = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | kFromSystem, nullptr, 0x2BAD, 0,
                             reinterpret_cast<LPSTR>(&text), 0, nullptr),
              0u);
    EXPECT_EQ(text, reinterpret_cast<char*>(0x1)) << "nothing handed back";
}

// Fixed blocks: usable memory, zero-filled on request; Free returns null, also for null.
TEST(MemoryBlocks, FixedBlocksAreUsableAndFreeReturnsNull) {
    auto* global = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 300));
    ASSERT_NE(global, nullptr);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(global[i], 0) << i;
    }
    std::memset(global, 0x5A, 300);
    EXPECT_EQ(GlobalFree(global), nullptr);
    auto* local = static_cast<char*>(LocalAlloc(LMEM_FIXED, 16));
    ASSERT_NE(local, nullptr);
    std::strcpy(local, "fifteen chars..");
    EXPECT_EQ(LocalFree(local), nullptr);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
    SetLastError(0);
    EXPECT_EQ(GlobalAlloc(0x0002 /* GMEM_MOVEABLE */, 16), nullptr) << "only fixed blocks";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
