// Regular files through CreateFileA, ReadFile and WriteFile, checked against the Windows
// behaviour they stand for: the creation dispositions, exclusive sharing, synchronous transfers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "owned_handle.hpp"
#include "platform/files.hpp"
#include "platform/win32.hpp"
#include "text.hpp"

namespace {

using testsupport::OwnedHandle;
using testsupport::read_file;

// A fresh folder for one test, removed with what is in it.
class Files : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/morvane-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { (void)std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string path(const char* name) const { return dir_ + "/" + name; }

    std::string dir_;
};

HANDLE open_file(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, 0);
}

// Each disposition on a file that exists and on one that does not: whether the open succeeds,
// its last error, and what the file holds afterwards.
TEST_F(Files, CreationDispositionsActAsOnWindows) {
    struct Case {
        const char* legend;
        DWORD disposition;
        bool exists;
        bool opens;
        DWORD error;          // the last error after the call
        const char* content;  // the file after the open; null: no file
    };
    const Case cases[] = {
        {"CREATE_ALWAYS on an existing file truncates it", CREATE_ALWAYS, true, true,
         ERROR_ALREADY_EXISTS, ""},
        {"CREATE_ALWAYS makes a missing file", CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {"OPEN_EXISTING keeps the content", OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
        {"OPEN_EXISTING on a missing file", OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND,
         nullptr},
        {"CREATE_NEW on an existing file", CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
        {"CREATE_NEW makes a missing file", CREATE_NEW, false, true, ERROR_SUCCESS, ""},
        {"OPEN_ALWAYS on an existing file keeps it", OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS,
         "old"},
        {"TRUNCATE_EXISTING empties the file", TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
        {"TRUNCATE_EXISTING on a missing file", TRUNCATE_EXISTING, false, false,
         ERROR_FILE_NOT_FOUND, nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string file = path(("f" + std::to_string(n++)).c_str());
        if (c.exists) {
            ASSERT_TRUE(testsupport::write_file(file, "old"));
        }
        SetLastError(0xBEEF);
        const HANDLE h = open_file(file, GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens) << c.legend;
        EXPECT_EQ(GetLastError(), c.error) << c.legend;
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(h)) << c.legend;
        }
        if (c.content == nullptr) {
            EXPECT_NE(access(file.c_str(), F_OK), 0) << c.legend;
        } else {
            EXPECT_EQ(read_file(file), c.content) << c.legend;
        }
    }
}

// A device exists already: CREATE_NEW refuses it as it refuses an existing file (so nothing
// that promises not to overwrite writes to it), and every other disposition opens it.
TEST(Devices, CreateNewRefusesADeviceAndTheOtherDispositionsOpenIt) {
    struct Case {
        const char* legend;
        DWORD disposition;
        bool opens;
        DWORD error;  // the last error after the call
    };
    const Case cases[] = {
        {"CREATE_NEW", CREATE_NEW, false, ERROR_FILE_EXISTS},
        {"CREATE_ALWAYS", CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS},
        {"OPEN_EXISTING", OPEN_EXISTING, true, ERROR_SUCCESS},
        {"OPEN_ALWAYS", OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS},
        {"TRUNCATE_EXISTING", TRUNCATE_EXISTING, true, ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        SetLastError(0xBEEF);
        const HANDLE h = open_file("/dev/null", GENERIC_WRITE, 0, c.disposition);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens) << c.legend;
        EXPECT_EQ(GetLastError(), c.error) << c.legend;
        if (h != INVALID_HANDLE_VALUE) {
            DWORD done = 0;
            EXPECT_TRUE(WriteFile(h, "data", 4, &done, nullptr)) << c.legend;
            EXPECT_EQ(done, 4u) << c.legend;
            EXPECT_TRUE(CloseHandle(h)) << c.legend;
        }
    }
}

// Share mode 0 is exclusive: while one handle holds the file, other opens fail with
// ERROR_SHARING_VIOLATION (and CREATE_ALWAYS truncates nothing); after it is closed they succeed.
TEST_F(Files, AnExclusiveOpenRefusesOthersUntilClosed) {
    const std::string file = path("held");
    ASSERT_TRUE(testsupport::write_file(file, "content"));
    const HANDLE held = open_file(file, GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(held, INVALID_HANDLE_VALUE) << GetLastError();

    struct Case {
        const char* legend;
        DWORD access;
        DWORD share;
        DWORD disposition;
    };
    const Case cases[] = {
        {"a second exclusive reader", GENERIC_READ, 0, OPEN_EXISTING},
        {"a reader that shares", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING},
        {"a writer that would truncate", GENERIC_WRITE, 0, CREATE_ALWAYS},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(open_file(file, c.access, c.share, c.disposition), INVALID_HANDLE_VALUE)
            << c.legend;
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION) << c.legend;
    }
    EXPECT_EQ(read_file(file), "content") << "the refused CREATE_ALWAYS truncated nothing";
    ASSERT_TRUE(CloseHandle(held));

    EXPECT_NE(OwnedHandle(open_file(file, GENERIC_READ, 0, OPEN_EXISTING)).get(),
              INVALID_HANDLE_VALUE)
        << GetLastError();

    // Two openers that share may hold the file together; an exclusive one is then refused.
    const OwnedHandle a(open_file(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    const OwnedHandle b(open_file(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    EXPECT_NE(a.get(), INVALID_HANDLE_VALUE);
    EXPECT_NE(b.get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(open_file(file, GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

// Synchronous transfers: a write moves every byte, reads go on from where the last ended, and a
// read at the end of the file succeeds with 0 bytes. A handle without write access may not write.
TEST_F(Files, ReadsAndWritesAreSequential) {
    const std::string file = path("data");
    HANDLE h = open_file(file, GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(h, "\x03\x00\x00\x00", 4, &done, nullptr));
    EXPECT_EQ(done, 4u);
    EXPECT_TRUE(WriteFile(h, "tail", 4, &done, nullptr));
    EXPECT_EQ(done, 4u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(read_file(file), std::string("\x03\x00\x00\x00tail", 8));

    h = open_file(file, GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[16] = {};
    EXPECT_TRUE(ReadFile(h, buffer, 4, &done, nullptr));
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(buffer[0], 3);
    EXPECT_TRUE(ReadFile(h, buffer, 16, &done, nullptr));
    EXPECT_EQ(done, 4u) << "a short read at the end";
    EXPECT_EQ(std::string(buffer, 4), "tail");
    EXPECT_TRUE(ReadFile(h, buffer, 16, &done, nullptr));
    EXPECT_EQ(done, 0u) << "at the end: success with 0 bytes";
    SetLastError(0);
    EXPECT_FALSE(WriteFile(h, "x", 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(h));
}

// flush_to_device, twice in a row: a disk file is synced, what is no disk file has nothing to
// write out once flushed, and a stream that cannot take its bytes says why.
TEST_F(Files, FlushToDeviceSyncsFilesAndTellsWhyNot) {
    struct Case {
        const char* legend;
        std::string name;
        int error;        // flush_to_device's result
        int error_again;  // and the next one's
    };
    const Case cases[] = {
        {.legend = "a regular file", .name = path("out.txt"), .error = 0, .error_again = 0},
        {.legend = "the null device: nothing to sync",
         .name = "/dev/null",
         .error = 0,
         .error_again = 0},
        {.legend = "a full device: the flush fails as a full disk; what it dropped is lost",
         .name = "/dev/full",
         .error = ENOSPC,
         .error_again = EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        FILE* file = std::fopen(c.name.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_GT(std::fputs("1 2 3\n", file), 0);
        EXPECT_EQ(platform::flush_to_device(file), c.error);
        EXPECT_EQ(platform::flush_to_device(file), c.error_again);
        (void)std::fclose(file);
    }
    EXPECT_EQ(read_file(path("out.txt")), "1 2 3\n");

    char* text = nullptr;
    size_t length = 0;
    FILE* memory = open_memstream(&text, &length);
    ASSERT_NE(memory, nullptr);
    ASSERT_GT(std::fputs("1 2 3\n", memory), 0);
    EXPECT_EQ(platform::flush_to_device(memory), 0) << "a stream in memory: no file to sync";
    EXPECT_EQ(std::string(text, length), "1 2 3\n");
    (void)std::fclose(memory);
    std::free(text);
}

}  // namespace
