#pragma once
// The end-to-end harness: the target the suites run (the native programs, or the Windows build
// under Wine) and its simulators, the one gtest environment of the suites (the skip marker, the
// Wine prefix), how a program of the target is started and its console read, the COM ports that
// stand for devices under Wine, and a test's own folder.
//
// The target is read from the environment that ctest sets (see tests/e2e/README.md):
//
//   MORVANE_TARGET  native | wine
//   MORVANE_WINE_ARCH  under Wine: win32 (the default) or win64, the width of the Windows build
//   MORVANE_EXE     the program: build/morvane, or build-win32/morvane.exe (build-win64/...) under
//                   Wine
//   AHRS_SIM        the simulated AHRS unit (a native program in both cases)
//   GPS_SIM         the simulated GPS receiver (a native program in both cases)
//   HSIF_SIM_DIR    the folder of the simulated interface library: build/sim (libhsif.so), or
//                   build-win32/sim or build-win64/sim (hsif.dll) under Wine
//   HSIF_SIM_CALIBRATION     the calibration file the simulated library reads as "LOOKUPHS"
//   HSIF_INCOMPLETE_LIBRARY  a library of this target that lacks one of the 50 entry points
//   CAPTURE_TOOL    capture-tool of the target
//   SERIAL_PROBE    serial-probe of the target (default: found from the build folders)
//   MORVANE_VERSION the project version
//   MORVANE_DIST_ZIP the Windows package (make dist)

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "process.hpp"
#include "wine.hpp"

namespace testsupport {

// How long one step of a test (a program's start, a record, an exit) may take before the test
// calls it a hang. Far beyond what a loaded two-core machine needs: a deadline bounds a hang and
// never decides a result.
constexpr milliseconds kHangBound(60000);

// Printed once when the target cannot run here; ctest's SKIP_REGULAR_EXPRESSION reports the whole
// suite skipped on it.
constexpr const char* kSkipMarker = "E2E-SKIPPED: ";

struct E2eTarget {
    bool wine = false;
    std::string exe;
    std::string ahrs_sim;
    std::string gps_sim;
    std::string hsif_sim_dir;
    std::string calibration;
    std::string incomplete_library;
    std::string capture_tool;
    std::string serial_probe;
    std::string version;
    std::string dist_zip;
    // Not empty: the programs cannot run here at all (no Windows build, no Wine, variables
    // unset); every test skips with this reason. Missing simulators or tools beside a present
    // program are left for the tests to fail on: the build makes them with the program.
    std::string skip_reason;

    // The words that start program (a program of this target, such as exe or capture_tool):
    // the program itself natively, wine-run and the program under Wine.
    std::vector<std::string> command(const std::string& program) const;
    // Environment entries every program of this target is started with (under Wine: the
    // prefix's server is up).
    std::vector<std::string> environment() const;

    // Console text of a program of this target with "\n" line ends: msvcrt writes console text
    // in text mode, so a Windows program's "\n" arrives as "\r\n"; a lone "\r" stays.
    std::string console_text(const std::string& raw) const;
    // text with its "\n" as this target's programs write them to the console.
    std::string console_bytes(const std::string& text) const;

    // The interface library's file name on this target: "libhsif.so" or "hsif.dll".
    std::string hsif_file_name() const;
    // The simulated library's path as the program's loader reports it: the real absolute path
    // natively, "Z:\..." with backslashes under Wine.
    std::string hsif_loaded_path() const;
    // Environment entries that point the program's library search at the folder dir, after its
    // own folder (empty: no folder): LD_LIBRARY_PATH natively, WINEPATH under Wine. A library is
    // never put beside the program.
    std::vector<std::string> library_search(const std::string& dir) const;
};

// The target, read from the environment once. The suites' environment (registered by this
// harness) sets up Wine before the first test and fills skip_reason when it cannot.
const E2eTarget& e2e_target();

// Unpacks the zip file into the folder (cmake -E tar). Returns an empty text, or why it could not.
std::string unpack_zip(const std::string& zip, const std::filesystem::path& into);

// A Unix path as Wine's Z: drive shows it: "Z:\tmp\x" for "/tmp/x".
std::string wine_path(const std::string& unix_path);

// A program of the target run as a process: started with the target's words and environment,
// its console read as "\n" text.
class TargetProgram : public Process {
public:
    // Starts program with args, the target's environment plus env, in cwd (empty: the current
    // folder). False, with the reason in error(), when it cannot start.
    bool launch(const std::string& program, const std::vector<std::string>& args,
                const std::vector<std::string>& env = {}, const std::string& cwd = {});

    // Standard output and standard error so far, with "\n" line ends.
    std::string console_out() const;
    std::string console_err() const;

    // Waits until text (with "\n" line ends) has appeared on standard output (standard error
    // when on_err), at most timeout.
    bool wait_for_console(const std::string& text, milliseconds timeout = kHangBound,
                          bool on_err = false) const;
};

// A device given to a program of the target: natively its path; under Wine the port COM<n>,
// mapped onto the device (a path or a symlink to one) for as long as this lives.
class TargetPort {
public:
    TargetPort(int com_number, const std::string& device);

    // False, with the reason in error(), when the mapping could not be made.
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // The port word the program is given: "COM7" under Wine, the device path natively.
    const std::string& name() const { return name_; }

private:
    std::string name_;
    std::string error_;
    std::unique_ptr<ComMapping> mapping_;
};

// A test's own folder, /tmp/morvane-<kind>-XXXXXX: removed at the end, kept with its path
// printed when the test running then has failed or keep() was called.
class TestFolder {
public:
    explicit TestFolder(const std::string& kind);
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    ~TestFolder();

    // False when the folder could not be made; path() is then empty.
    bool ok() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }
    void keep() { keep_ = true; }

private:
    std::filesystem::path path_;
    bool keep_ = false;
};

}  // namespace testsupport
