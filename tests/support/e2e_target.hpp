#pragma once
// The end-to-end harness: the target the suites run (the native programs, or the Windows build
// under Wine) as the environment names it (see tests/e2e/README.md), the suites' one gtest
// environment, programs of the target, the COM ports that stand for devices, a test's folder.

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

struct E2eTarget {
    bool wine = false;     // MORVANE_TARGET native|wine; MORVANE_WINE_ARCH win32 (default)|win64
    std::string exe;       // MORVANE_EXE: build/morvane, or build-win32/morvane.exe (or win64)
    std::string ahrs_sim;  // AHRS_SIM: the simulated unit, a native program on both targets
    std::string gps_sim;   // GPS_SIM: the simulated receiver, likewise
    std::string hsif_sim_dir;  // HSIF_SIM_DIR: the folder of libhsif.so, or of hsif.dll
    std::string calibration;   // HSIF_SIM_CALIBRATION: what the simulated library reads as LOOKUPHS
    std::string incomplete_library;  // HSIF_INCOMPLETE_LIBRARY: one lacking an entry point
    std::string capture_tool;        // CAPTURE_TOOL
    std::string serial_probe;        // SERIAL_PROBE
    std::string version;             // MORVANE_VERSION: the project version
    std::string dist_zip;            // MORVANE_DIST_ZIP: the Windows package (make dist)
    // Not empty: the programs cannot run here at all (no Windows build, no Wine, variables
    // unset); every test skips with this reason. Missing simulators or tools beside a present
    // program are left for the tests to fail on: the build makes them with the program.
    std::string skip_reason;

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

// A program of the target run as a process: natively itself, under Wine through wine-run; its
// console read as "\n" text (msvcrt writes console text in text mode: a Windows program's "\n"
// arrives as "\r\n"; a lone "\r" stays).
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

// A simulator of a test on a link in the test's folder (the link follows its line across
// hang-ups), and the port a program of the target opens for it.
class SimulatedDevice {
public:
    SimulatedDevice(const std::filesystem::path& link, int com_number)
        : link_(link.string()), com_number_(com_number) {}
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;
    // Ends the simulator (SIGTERM), waiting for it.
    ~SimulatedDevice();

    // The port word: the link natively, COM<com_number> under Wine (mapped onto the link once
    // the simulator has started).
    std::string port() const;
    // The simulator's status lines, for failure messages.
    std::string status() const { return sim_ ? sim_->err() : std::string(); }

protected:
    // Starts argv, the simulator and its words, with "--link" and the link; the simulator prints
    // its device path first. Returns an empty text, or why it could not start.
    std::string start_device(std::vector<std::string> argv);

private:
    std::string link_;
    int com_number_;
    std::unique_ptr<Process> sim_;
    std::unique_ptr<TargetPort> port_;
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
