#include "e2e_target.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "text.hpp"

namespace testsupport {

namespace fs = std::filesystem;

namespace {

// Printed once when the target cannot run here; ctest's SKIP_REGULAR_EXPRESSION reports the whole
// suite skipped on it.
constexpr const char* kSkipMarker = "E2E-SKIPPED: ";

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
    t.gps_sim = env_or_empty("GPS_SIM");
    t.hsif_sim_dir = env_or_empty("HSIF_SIM_DIR");
    t.calibration = env_or_empty("HSIF_SIM_CALIBRATION");
    t.incomplete_library = env_or_empty("HSIF_INCOMPLETE_LIBRARY");
    t.capture_tool = env_or_empty("CAPTURE_TOOL");
    t.serial_probe = env_or_empty("SERIAL_PROBE");
    t.version = env_or_empty("MORVANE_VERSION");
    t.dist_zip = env_or_empty("MORVANE_DIST_ZIP");
    if (t.calibration.empty()) {
        // The demo calibration file that ships with the simulated library.
        t.calibration =
            (fs::path(__FILE__).parent_path() / "../../tools/hsif_sim/LOOKUPHS").lexically_normal();
    }
    if (kind.empty() || t.exe.empty() || t.ahrs_sim.empty()) {
        t.skip_reason = "MORVANE_TARGET, MORVANE_EXE and AHRS_SIM are not all set";
    } else if (!fs::exists(t.exe)) {
        const bool win64 = env_or_empty("MORVANE_WINE_ARCH") == "win64";
        t.skip_reason = "no program at " + t.exe +
                        (t.wine ? (win64 ? " (build it with: make windows64)"
                                         : " (build it with: make windows)")
                                : "");
    }
    return t;
}

E2eTarget& target() {
    static E2eTarget t = read_target();
    return t;
}

// Sets up Wine for the whole run (its prefix and a server that outlives each program) and stops
// its server after the last test; says once when the target cannot run.
class E2eEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        E2eTarget& t = target();
        if (t.skip_reason.empty() && t.wine) {
            std::string why;
            if (wine_run({"--setup"}, &why) == 0) {
                wine_started_ = true;
            } else {
                t.skip_reason =
                    "Wine cannot run here: " + (why.empty() ? "wine-run --setup failed" : why);
            }
        }
        if (!t.skip_reason.empty()) {
            std::printf("%s%s\n", kSkipMarker, t.skip_reason.c_str());
            std::fflush(stdout);
        }
    }

    void TearDown() override {
        std::string output;
        if (wine_started_) {
            wine_run({"--cleanup"}, &output);
        }
    }

private:
    bool wine_started_ = false;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new E2eEnvironment);

std::string real_or_absolute(const fs::path& path) {
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    return ec ? fs::absolute(path).string() : real.string();
}

}  // namespace

std::string E2eTarget::hsif_file_name() const {
    return wine ? "hsif.dll" : "libhsif.so";
}

std::string E2eTarget::hsif_loaded_path() const {
    const std::string path = real_or_absolute(fs::path(hsif_sim_dir) / hsif_file_name());
    return wine ? wine_path(path) : path;
}

std::vector<std::string> E2eTarget::library_search(const std::string& dir) const {
    const std::string path = dir.empty() ? std::string() : real_or_absolute(dir);
    if (wine) {
        return {"WINEPATH=" + (path.empty() ? path : wine_path(path))};
    }
    return {"LD_LIBRARY_PATH=" + path};
}

const E2eTarget& e2e_target() {
    return target();
}

std::string unpack_zip(const std::string& zip, const fs::path& into) {
    if (!fs::exists(zip)) {
        return "no package at " + zip + " (the Windows build writes it)";
    }
    Process unzip;
    if (!unzip.start({"cmake", "-E", "tar", "xf", zip}, {}, into.string())) {
        return unzip.error();
    }
    const ExitStatus status = unzip.wait(kHangBound);
    return status.code == 0 ? std::string() : status.describe() + unzip.err();
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

bool TargetProgram::launch(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env, const std::string& cwd) {
    const bool wine = e2e_target().wine;
    std::vector<std::string> argv{program};
    if (wine) {
        argv.insert(argv.begin(), wine_run_script());
    }
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> all_env = env;
    if (wine) {
        all_env.push_back("MORVANE_WINE_WARM=1");  // the suite's environment started the server
    }
    return start(argv, all_env, cwd);
}

std::string TargetProgram::console_out() const {
    return e2e_target().wine ? without_crlf(out()) : out();
}

std::string TargetProgram::console_err() const {
    return e2e_target().wine ? without_crlf(err()) : err();
}

bool TargetProgram::wait_for_console(const std::string& text, milliseconds timeout,
                                     bool on_err) const {
    std::string bytes;
    for (char c : text) {
        bytes += e2e_target().wine && c == '\n' ? "\r\n" : std::string(1, c);
    }
    return wait_for(
        [&](const std::string& out, const std::string& err) {
            return (on_err ? err : out).find(bytes) != std::string::npos;
        },
        timeout);
}

TargetPort::TargetPort(int com_number, const std::string& device) {
    if (!e2e_target().wine) {
        name_ = device;
        return;
    }
    name_ = "COM" + std::to_string(com_number);
    mapping_ = std::make_unique<ComMapping>(com_number, device);
    if (!mapping_->ok()) {
        error_ = mapping_->error();
    }
}

SimulatedDevice::~SimulatedDevice() {
    if (sim_ && sim_->running()) {
        sim_->signal(SIGTERM);
        sim_->wait(kHangBound);
    }
}

std::string SimulatedDevice::port() const {
    return e2e_target().wine ? "COM" + std::to_string(com_number_) : link_;
}

std::string SimulatedDevice::start_device(std::vector<std::string> argv) {
    argv.insert(argv.begin() + 1, {"--link", link_});
    sim_ = std::make_unique<Process>();
    if (!sim_->start(argv)) {
        return argv[0] + ": " + sim_->error();
    }
    sim_->close_stdin();
    if (first_line(*sim_, kHangBound).empty()) {
        return argv[0] + " printed no device path; stderr: " + sim_->err();
    }
    port_ = std::make_unique<TargetPort>(com_number_, link_);
    return port_->error();
}

TestFolder::TestFolder(const std::string& kind) {
    std::string pattern = "/tmp/morvane-" + kind + "-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
    }
}

TestFolder::~TestFolder() {
    if (path_.empty()) {
        return;
    }
    if (keep_ || ::testing::Test::HasFailure()) {
        std::printf("files of this test kept in %s\n", path_.c_str());
    } else {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
}

}  // namespace testsupport
