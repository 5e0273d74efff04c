// LoadLibraryExA, GetProcAddress, FreeLibrary and GetModuleFileNameA, checked against the
// Windows loader behaviour they stand for, with small libraries built for the purpose and the
// search order seen from a real process copied into chosen folders.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/library.hpp"
#include "platform/win32.hpp"
#include "process.hpp"
#include "pty.hpp"
#include "serial_port.hpp"

namespace {

namespace fs = std::filesystem;
using platform_test::failure_of;

// A fresh folder under the temporary directory, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "morvane-loader-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) != nullptr ? pattern : "";
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string real(const fs::path& path) {
    return fs::canonical(path).string();
}

template <typename Function>
Function entry_point(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(GetProcAddress(module, name));
}

// The file name for a bare library name is the one the Windows loader's ".dll" stands for here.
TEST(LibraryFileName, ABareNameIsLibNameDotSo) {
    struct Case {
        const char* legend;
        const char* name;
        size_t size;
        const char* expected;
    };
    const Case cases[] = {
        {"the interface library's name", "hsif", 32, "libhsif.so"},
        {"a buffer exactly large enough", "hsif", 11, "libhsif.so"},
        {"a buffer one short cuts the last character", "hsif", 10, "libhsif.s"},
        {"a buffer of one holds the terminator only", "hsif", 1, ""},
    };
    for (const Case& c : cases) {
        char buffer[32];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_STREQ(platform::library_file_name(c.name, buffer, c.size), c.expected) << c.legend;
    }
}

TEST(LoadLibrary, FailuresReturnNullWithTheLoadersCode) {
    TempFolder folder;
    const fs::path text_file = folder.path() / "libtext.so";
    std::ofstream(text_file) << "not a library\n";
    struct Case {
        const char* legend;
        std::string name;
        DWORD error;
    };
    const Case cases[] = {
        {"a bare name found nowhere", "morvane_no_such_library", ERROR_MOD_NOT_FOUND},
        {"a name with an extension found nowhere", "libmorvane_none.so.1", ERROR_MOD_NOT_FOUND},
        {"a path to no file", "/nonexistent/libhsif.so", ERROR_MOD_NOT_FOUND},
        {"a file that is no library", text_file.string(), ERROR_BAD_EXE_FORMAT},
        {"a library that imports a name nobody exports", NEEDY_LIBRARY, ERROR_PROC_NOT_FOUND},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(failure_of([&] { return LoadLibraryExA(c.name.c_str(), 0, 0); }), c.error)
            << c.legend;
    }
}

// A library loaded by path gives its entry points by exact name; a missing name is null with
// ERROR_PROC_NOT_FOUND. It calls the program's own Windows-named functions, so a handle it opens
// is one of the program's handles (the interface library opens the laser port this way). Loads
// are counted: a library loaded twice, one module handle, stays usable until both are released.
TEST(LoadLibrary, EntryPointsByExactNameTheProgramsHandlesAndCountedLoads) {
    HMODULE probe = LoadLibraryExA(PROBE_LIBRARY, 0, 0);
    ASSERT_NE(probe, nullptr) << GetLastError();
    auto answer = entry_point<int (*)()>(probe, "probe_answer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    struct Case {
        const char* legend;
        const char* name;
    };
    const Case missing[] = {
        {"a name the library lacks", "HsifGetDpcReadTime"},
        {"the right name in another case", "Probe_Answer"},
        {"a prefix of a name", "probe_ans"},
    };
    for (const Case& c : missing) {
        EXPECT_EQ(failure_of([&] { return GetProcAddress(probe, c.name); }), ERROR_PROC_NOT_FOUND)
            << c.legend;
    }

    test_support::Pty pty;
    ASSERT_TRUE(pty.ok()) << pty.error();
    auto probe_open = entry_point<HANDLE (*)(const char*)>(probe, "probe_open");
    ASSERT_NE(probe_open, nullptr);
    const HANDLE port = probe_open(pty.slave_path().c_str());
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    DCB dcb{};
    EXPECT_TRUE(GetCommState(port, &dcb)) << "the program knows the library's handle";
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_FALSE(CloseHandle(port)) << "closed once, by the program";

    HMODULE second = LoadLibraryExA(PROBE_LIBRARY, 0, 0);
    EXPECT_EQ(probe, second) << "one library, one module handle";
    EXPECT_TRUE(FreeLibrary(probe));
    answer = entry_point<int (*)()>(second, "probe_answer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_EQ(failure_of([] { return FreeLibrary(nullptr); }), ERROR_INVALID_HANDLE);
}

// A name with an extension is taken as it is: no "lib" in front, no ".so" behind.
TEST(LoadLibrary, ANameWithAnExtensionIsTakenAsItIs) {
    HMODULE libc = LoadLibraryExA("libc.so.6", 0, 0);
    ASSERT_NE(libc, nullptr) << GetLastError();
    EXPECT_NE(GetProcAddress(libc, "strlen"), nullptr);
    EXPECT_TRUE(FreeLibrary(libc));
}

// GetModuleFileNameA gives the real absolute path of the file loaded, whatever way led to it.
TEST(ModuleFileName, IsTheRealPathOfTheFileLoaded) {
    TempFolder folder;
    // Through a "." and a symbolic link with another name.
    const fs::path alias = folder.path() / "libalias.so";
    fs::create_symlink(PROBE_LIBRARY, alias);
    const std::string roundabout = (folder.path() / "." / "libalias.so").string();
    HMODULE probe = LoadLibraryExA(roundabout.c_str(), 0, 0);
    ASSERT_NE(probe, nullptr) << GetLastError();
    char path[260] = {};
    const DWORD length = GetModuleFileNameA(probe, path, sizeof path);
    EXPECT_STREQ(path, real(PROBE_LIBRARY).c_str());
    EXPECT_EQ(length, std::strlen(path));
    EXPECT_TRUE(FreeLibrary(probe));
}

// The program's own path, for a null module. A buffer too small holds the path cut to size - 1
// characters and a terminator; the result is the size and the last error
// ERROR_INSUFFICIENT_BUFFER, as on Windows since Vista.
TEST(ModuleFileName, ACutPathIsTerminatedAndReportsTheSize) {
    const std::string full = real("/proc/self/exe");
    const DWORD length = static_cast<DWORD>(full.size());
    struct Case {
        const char* legend;
        DWORD size;
        DWORD result;
        std::string text;
        DWORD error;  // ERROR_SUCCESS: not checked, the call succeeded
    };
    const Case cases[] = {
        {"room to spare", length + 8, length, full, ERROR_SUCCESS},
        {"room for the path and its terminator", length + 1, length, full, ERROR_SUCCESS},
        {"one short: the last character is cut", length, length, full.substr(0, length - 1),
         ERROR_INSUFFICIENT_BUFFER},
        {"room for the terminator only", 1, 1, "", ERROR_INSUFFICIENT_BUFFER},
    };
    for (const Case& c : cases) {
        std::string buffer(full.size() + 16, 'x');
        SetLastError(0);
        EXPECT_EQ(GetModuleFileNameA(nullptr, buffer.data(), c.size), c.result) << c.legend;
        EXPECT_EQ(std::string(buffer.c_str()), c.text) << c.legend;
        EXPECT_EQ(buffer[c.size], 'x') << c.legend << ": nothing written past the buffer";
        if (c.error != ERROR_SUCCESS) {
            EXPECT_EQ(GetLastError(), c.error) << c.legend;
        }
    }
}

// The bare name "hsif" is libhsif.so, looked for first beside the program, then on the dynamic
// linker's path, as the Windows loader looks in the program's folder before the system path.
// The program is a small loader copied into a folder of its own for each case.
TEST(LoadLibrary, ABareNameIsSearchedBesideTheProgramFirst) {
    struct Case {
        const char* legend;
        bool beside;           // libhsif.so in the program's folder
        bool on_path;          // libhsif.so in a folder of LD_LIBRARY_PATH (reached through a link)
        const char* expected;  // "beside", "path" or "failed 126"
    };
    const Case cases[] = {
        {"only beside the program", true, false, "beside"},
        {"only on the linker's path", false, true, "path"},
        {"in both: the program's folder wins", true, true, "beside"},
        {"in neither", false, false, "failed 126"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const fs::path program_folder = folder.path() / "program";
        const fs::path path_folder = folder.path() / "path";
        fs::create_directories(program_folder);
        fs::create_directories(path_folder);
        fs::create_directory_symlink(path_folder, folder.path() / "path-link");
        const fs::path program = program_folder / "load_hsif";
        fs::copy_file(LOAD_HSIF_PROGRAM, program);
        fs::permissions(program, fs::perms::owner_all);
        if (c.beside) {
            fs::copy_file(PROBE_LIBRARY, program_folder / "libhsif.so");
        }
        if (c.on_path) {
            fs::copy_file(PROBE_LIBRARY, path_folder / "libhsif.so");
        }
        std::string expected = c.expected;
        if (expected == "beside") {
            expected = "loaded " + real(program_folder / "libhsif.so");
        } else if (expected == "path") {
            expected = "loaded " + real(path_folder / "libhsif.so");
        }

        testsupport::Process loader;
        ASSERT_TRUE(loader.start({program.string(), "hsif"},
                                 {"LD_LIBRARY_PATH=" + (folder.path() / "path-link").string()}))
            << loader.error();
        const testsupport::ExitStatus status = loader.wait(std::chrono::seconds(20));
        EXPECT_TRUE(status.exited) << c.legend << ": " << status.describe();
        EXPECT_EQ(loader.out(), expected + "\n") << c.legend << "\n" << loader.err();
    }
}

}  // namespace
