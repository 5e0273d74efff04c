// Binding the interface library: all 50 entry points or none. Each case runs in a child process,
// a copy of this test program in a folder of its own with the library beside it, since the
// loader looks beside the program first and a process keeps what it once loaded.

#include "laser/binding.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "laser/hsif_api.hpp"
#include "platform/library.hpp"
#include "platform/win32.hpp"

namespace {

namespace fs = std::filesystem;

constexpr char kExpectVariable[] = "HSIF_BINDING_EXPECT";
constexpr char kTraceVariable[] = "HSIF_STUB_TRACE";

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void append(const char* path, const char* text) {
    if (FILE* file = std::fopen(path, "ab")) {
        std::fputs(text, file);
        std::fclose(file);
    }
}

fs::path own_path() {
    char path[4096] = {};
    GetModuleFileNameA(nullptr, path, sizeof path - 1);
    return fs::path(path);
}

std::string hsif_file_name() {
    char name[64];
    return platform::library_file_name(laser::hsif_library_name(), name, sizeof name);
}

// Calls an entry point with zero for every argument: the stand-in library only reports which
// function it is.
template <typename... Args>
int32_t call_with_zeros(int32_t(HSIF_CALL* entry)(Args...)) {
    return entry(Args{}...);
}

// The child's half: binds the library beside it and checks the outcome against
// HSIF_BINDING_EXPECT ("complete", "incomplete" or "missing"). It appends "bound\n" after a
// binding whose table is right and "checked\n" at its end to the stand-in's trace, so the parent
// sees what happened in which order.
TEST(BindingChild, DISABLED_Run) {
    const char* expect = std::getenv(kExpectVariable);
    const char* trace = std::getenv(kTraceVariable);
    ASSERT_NE(expect, nullptr);
    ASSERT_NE(trace, nullptr);

    HMODULE library = laser::load_hsif_library();
    if (std::strcmp(expect, "complete") == 0) {
        ASSERT_NE(library, nullptr);
        int32_t position = 0;
        bool in_order = true;
#define CHECK_SLOT(name, params)                                         \
    ++position;                                                          \
    ASSERT_NE(laser::hsif_api.name, nullptr) << #name;                   \
    EXPECT_EQ(call_with_zeros(laser::hsif_api.name), position) << #name; \
    in_order = in_order && call_with_zeros(laser::hsif_api.name) == position;
        HSIF_ENTRY_POINTS(CHECK_SLOT)
#undef CHECK_SLOT
        EXPECT_EQ(position, laser::kHsifEntryPointCount);

        char path[261] = {};
        GetModuleFileNameA(library, path, 260);
        EXPECT_EQ(fs::path(path).filename().string(), hsif_file_name()) << path;
        if (in_order) {
            append(trace, "bound\n");
        }
        EXPECT_NE(laser::free_hsif_library(library), 0);
    } else {
        EXPECT_EQ(library, nullptr);
    }
    append(trace, "checked\n");
}

struct BindingCase {
    const char* legend;
    const char* library;  // the stand-in copied beside the child, or null for none
    const char* expect;
    const char* trace;  // what the stand-in and the child wrote, in order
};

void PrintTo(const BindingCase& c, std::ostream* out) {
    *out << c.legend;
}

class Binding : public testing::TestWithParam<BindingCase> {};

TEST_P(Binding, BindsAllOrNothing) {
    const BindingCase& c = GetParam();
    const fs::path self = own_path();
    const fs::path folder =
        fs::temp_directory_path() /
        ("morvane-binding-" + std::to_string(std::random_device{}()) + "-" + std::string(c.expect));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path child = folder / self.filename();
    fs::copy_file(self, child);
    if (c.library != nullptr) {
        fs::copy_file(self.parent_path() / "hsif_stub" / c.library, folder / hsif_file_name());
    }
    const fs::path trace = folder / "trace.txt";

    // putenv keeps the strings; they live as long as the process.
    static std::string expect_setting;
    static std::string trace_setting;
    expect_setting = std::string(kExpectVariable) + "=" + c.expect;
    trace_setting = std::string(kTraceVariable) + "=" + trace.string();
    putenv(expect_setting.data());
    putenv(trace_setting.data());

    const std::string command = child.string() +
                                " --gtest_also_run_disabled_tests"
                                " --gtest_filter=BindingChild.DISABLED_Run --gtest_brief=1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(read_file(trace), c.trace);

    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, Binding,
    testing::Values(
        BindingCase{"all 50 names: bound, each slot holds its own name, released on request",
                    HSIF_STUB_COMPLETE, "complete", "load\nbound\nunload\nchecked\n"},
        BindingCase{"HsifGetDpcReadTime missing: rejected and released before null is returned",
                    HSIF_STUB_INCOMPLETE, "incomplete", "load\nunload\nchecked\n"},
        BindingCase{"no library file: null, nothing loaded", nullptr, "missing", "checked\n"}),
    [](const testing::TestParamInfo<BindingCase>& p) { return std::string(p.param.expect); });

TEST(BindingName, IsHsifWithoutExtension) {
    EXPECT_STREQ(laser::hsif_library_name(), "hsif");
}

}  // namespace
