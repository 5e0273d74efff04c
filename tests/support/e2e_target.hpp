#pragma once
// The program an end-to-end test runs and the simulators it runs against, read from the
// environment that ctest sets (see tests/e2e/README.md):
//
//   MORVANE_TARGET  native | wine
//   MORVANE_EXE     the program: build/morvane, or build-win32/morvane.exe under Wine
//   AHRS_SIM        the simulated AHRS unit (a native program in both cases)
//   HSIF_SIM_DIR    the folder of the simulated interface library: build/sim (libhsif.so), or
//                   build-win32/sim (hsif.dll) under Wine
//   HSIF_SIM_CALIBRATION  the calibration file the simulated library reads as "LOOKUPHS"
//   HSIF_INCOMPLETE_LIBRARY  a library of this target that lacks one of the 50 entry points

#include <string>
#include <vector>

namespace testsupport {

struct E2eTarget {
    bool wine = false;
    std::string exe;
    std::string ahrs_sim;
    std::string hsif_sim_dir;
    std::string calibration;
    std::string incomplete_library;
    // Not empty: the program cannot run here at all (no Windows build, no Wine); the suites
    // report themselves skipped with this reason.
    std::string skip_reason;

    // The words that start the program: the program itself, or wine-run and the program.
    std::vector<std::string> command() const;
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

// Reads the environment once. When the target cannot run, skip_reason says why (Wine missing,
// no Windows build, variables unset); missing simulators are left for the tests to fail on,
// since `make` and `make windows` build them with the program.
const E2eTarget& e2e_target();

// A Unix path as Wine's Z: drive shows it: "Z:\tmp\x" for "/tmp/x".
std::string wine_path(const std::string& unix_path);

}  // namespace testsupport
