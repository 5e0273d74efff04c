#include "e2e_target.hpp"

#include <cstdlib>
#include <filesystem>

#include "wine.hpp"

namespace testsupport {

namespace fs = std::filesystem;

namespace {

std::string env_or_empty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

E2eTarget read_target() {
    E2eTarget t;
    const std::string kind = env_or_empty("MORVANE_TARGET");
    t.wine = kind == "wine";
    t.exe = env_or_empty("MORVANE_EXE");
    t.ahrs_sim = env_or_empty("AHRS_SIM");
    t.hsif_sim_dir = env_or_empty("HSIF_SIM_DIR");
    t.calibration = env_or_empty("HSIF_SIM_CALIBRATION");
    t.incomplete_library = env_or_empty("HSIF_INCOMPLETE_LIBRARY");
    if (t.calibration.empty()) {
        // The demo calibration file that ships with the simulated library.
        t.calibration =
            (fs::path(__FILE__).parent_path() / "../../tools/hsif_sim/LOOKUPHS").lexically_normal();
    }
    if (kind.empty() || t.exe.empty() || t.ahrs_sim.empty()) {
        t.skip_reason = "MORVANE_TARGET, MORVANE_EXE and AHRS_SIM are not all set";
    } else if (!fs::exists(t.exe)) {
        t.skip_reason = "no program at " + t.exe + (t.wine ? " (build it with: make windows)" : "");
    } else if (t.wine) {
        std::string why;
        if (!wine_setup(&why)) {
            t.skip_reason = "Wine cannot run here: " + why;
        }
    }
    return t;
}

}  // namespace

std::vector<std::string> E2eTarget::command() const {
    if (wine) {
        return {wine_run_script(), exe};
    }
    return {exe};
}

std::string E2eTarget::hsif_file_name() const {
    return wine ? "hsif.dll" : "libhsif.so";
}

std::string E2eTarget::hsif_loaded_path() const {
    const fs::path file = fs::path(hsif_sim_dir) / hsif_file_name();
    std::error_code ec;
    const fs::path real = fs::canonical(file, ec);
    const std::string path = ec ? fs::absolute(file).string() : real.string();
    return wine ? wine_path(path) : path;
}

std::vector<std::string> E2eTarget::library_search(const std::string& dir) const {
    std::string path;
    if (!dir.empty()) {
        std::error_code ec;
        const fs::path real = fs::canonical(dir, ec);
        path = ec ? fs::absolute(dir).string() : real.string();
    }
    if (wine) {
        return {"WINEPATH=" + (path.empty() ? path : wine_path(path))};
    }
    return {"LD_LIBRARY_PATH=" + path};
}

const E2eTarget& e2e_target() {
    static const E2eTarget target = read_target();
    return target;
}

std::string wine_path(const std::string& unix_path) {
    std::string path = "Z:" + unix_path;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

}  // namespace testsupport
