// capture-tool end to end: every command run as a process, its output, exit code and files
// checked, natively and under Wine. VERSIONED_LIBRARY names a Windows library with file version
// 1.2.3.4, UNVERSIONED_LIBRARY the same without a version resource (tests/e2e/versioned).

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "e2e_target.hpp"
#include "process.hpp"
#include "text.hpp"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr size_t kHeaderSizeV3 = 293;

std::string env_or_empty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// What one run of the tool gave; console text with "\n" line ends on both targets.
struct ToolRun {
    ExitStatus status;
    std::string out;
    std::string err;

    int code() const { return status.exited ? status.code : -1; }
    std::string describe() const {
        return status.describe() + "\n--- stdout ---\n" + out + "--- stderr ---\n" + err;
    }
};

// A configuration file of version 2 that every parameter of passes, and what the tool echoes
// for it.
constexpr const char* kGoodConfig =
    "2 ; Config file version\n"
    "3 ; Com port\n"
    "1 ; HSIF card number\n"
    "20 ; Sampling period in microseconds\n"
    "650 ; Max range in inches\n"
    "30000 ; Buffer size\n"
    "5000 ; Number of samples to capture\n"
    "200 ; Motor 1 power\n"
    "100 ; Motor 2 power\n"
    "4096 ; Motor 1 encoder pulses per revolution\n"
    "2048 ; Motor 2 encoder pulses per revolution\n"
    "LOOKUPHS ; Calibration file\n"
    "scan ; Output capture data filename\n"
    "1500 ; Delay in milliseconds\n"
    "1 ; Process affinity\n"
    "0 ; Write .raw file\n";

constexpr const char* kGoodConfigEcho =
    "Configuration version = 2\n"
    "Comport = 3\n"
    "Card number = 1\n"
    "Sampling period = 20 us\n"
    "Max range = 650\n"
    "Buffer Size = 30000\n"
    "Number of samples = 5000\n"
    "Motor 1 power = 200\n"
    "Motor 2 power = 100\n"
    "Motor 1 encoder ppr = 4096\n"
    "Motor 2 encoder ppr = 2048\n"
    "Calibration file = LOOKUPHS\n"
    "Capture file = scan.raw\n"
    "Motor stabilization delay = 1500 ms\n"
    "Process affinity = 1 \n"
    "Write .raw file if runing rt_cap = 0\n";

// The listing of the header written from kGoodConfig, up to the model line.
constexpr const char* kGoodListing =
    "Read Header\n"
    " Header Version: 3\n"
    " Sampling period: 20\n"
    " Max range: 650 (in)\n"
    " Buf size: 30000\n"
    " Num samples: 5000\n"
    " Motor 1 encoder ppr: 4096\n"
    " Motor 2 encoder ppr: 2048\n"
    " Motor 1 power: 200\n"
    " Motor 2 power: 100\n"
    " Calibration value: 0\n"
    " Comport: 3\n"
    " Card number: 1\n"
    " Cal file: LOOKUPHS\n";

constexpr const char* kParseFailed = "\nERROR: Configuration file parse failed.\n";

// text with line n (from 1) replaced.
std::string with_line(const std::string& text, int n, const std::string& line) {
    std::string result;
    int number = 1;
    for (const std::string& l : split(text, '\n')) {
        result += (number++ == n ? line : l) + "\n";
    }
    return result;
}

uint32_t le32(const std::string& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    }
    return value;
}

// The base of every test: skips when the target cannot run, works in a folder of its own (the
// tool's working directory), kept with its path printed when the test fails.
class CaptureToolE2e : public ::testing::Test {
protected:
    void SetUp() override {
        const E2eTarget& t = e2e_target();
        if (!t.skip_reason.empty()) {
            GTEST_SKIP() << t.skip_reason;
        }
        tool_ = t.capture_tool;
        if (tool_.empty()) {
            GTEST_SKIP() << "CAPTURE_TOOL is not set";
        }
        // The program of the target is there, so its build is: the tool belongs to it.
        ASSERT_TRUE(fs::exists(tool_))
            << "no capture-tool at " << tool_
            << " (build it with: " << (t.wine ? "make windows)" : "make)");
        ASSERT_TRUE(folder_.ok());
        dir_ = folder_.path();
    }

    static bool wine() { return e2e_target().wine; }

    // Runs the tool with args in the test's folder.
    ToolRun run(const std::vector<std::string>& args) const {
        TargetProgram tool;
        ToolRun result;
        if (!tool.launch(tool_, args, {}, dir_.string())) {
            ADD_FAILURE() << "cannot start " << tool_ << ": " << tool.error();
            return result;
        }
        tool.close_stdin();
        result.status = tool.wait(kHangBound);
        result.out = tool.console_out();
        result.err = tool.console_err();
        return result;
    }

    // A path the tool of the target takes for a file outside its folder.
    static std::string tool_path(const std::string& unix_path) {
        const std::string absolute = fs::absolute(unix_path).string();
        return wine() ? wine_path(absolute) : absolute;
    }

    void write(const std::string& name, const std::string& bytes) const {
        write_file(dir_ / name, bytes);
    }
    std::string bytes_of(const std::string& name) const { return read_file(dir_ / name); }
    bool exists(const std::string& name) const { return fs::exists(dir_ / name); }

    TestFolder folder_{"capture-e2e"};
    std::string tool_;
    fs::path dir_;
};

// --- config -------------------------------------------------------------------------------------

// config echoes what it takes and names each parameter it cannot use; write-header reads the file
// the same way and writes nothing when it fails.
TEST_F(CaptureToolE2e, ConfigEchoesWhatItTakesAndWriteHeaderWritesNothingForWhatItCannotUse) {
    const struct {
        const char* legend;
        std::string file;  // the configuration file's text; empty: no file at all
        int code;
        std::string out;  // the whole of standard output
    } cases[] = {
        {"a version-2 file of 16 good lines: every value echoed", kGoodConfig, kExitSuccess,
         kGoodConfigEcho},
        {"com port 255: the line of parameter 2, the others still echoed, the closing line",
         with_line(kGoodConfig, 2, "255 ; Com port"), kExitFailure,
         with_line(kGoodConfigEcho, 2, "Error reading parameter 2: \"Com port\"") + kParseFailed},
        {"a blank line for the sampling period fails that parameter only",
         with_line(kGoodConfig, 4, ""), kExitFailure,
         with_line(kGoodConfigEcho, 4,
                   "Error reading parameter 4: \"Sampling period in microseconds\"") +
             kParseFailed},
        {"buffer size 30001", with_line(kGoodConfig, 6, "30001"), kExitFailure,
         with_line(kGoodConfigEcho, 6,
                   "Error reading parameter 6: \"Buffer size for intermediate sample storage "
                   "(30,000 max)\"") +
             kParseFailed},
        {"no such file", "", kExitFailure, "Could not open settings.cfg\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        std::error_code ec;
        fs::remove(dir_ / "settings.cfg", ec);
        if (!c.file.empty()) {
            write("settings.cfg", c.file);
        }
        const ToolRun r = run({"config", "settings.cfg"});
        EXPECT_EQ(r.code(), c.code) << r.describe();
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        if (c.code == kExitSuccess) {
            continue;
        }
        const ToolRun header = run({"write-header", "settings.cfg", "capture.dat", "--model", "1"});
        EXPECT_EQ(header.code(), kExitFailure) << header.describe();
        EXPECT_EQ(header.out, c.out);
        EXPECT_EQ(header.err, "capture-tool: capture.dat not written\n");
        EXPECT_FALSE(exists("capture.dat"));
    }
}

// --- write-header and header ----------------------------------------------------------------

TEST_F(CaptureToolE2e, WrittenHeaderReadsBackWithItsModelAndABadOneIsRefused) {
    const struct {
        const char* legend;
        std::vector<std::string> model_option;
        char model_byte;
        const char* model_line;
    } cases[] = {
        {"--model 1: the 200 kHz model", {"--model", "1"}, 1, " Sensor Model: AR4000 - 200 kHz\n"},
        {"--model 0: the 50 kHz model", {"--model", "0"}, 0, " Sensor Model: AR4000 - 50 kHz\n"},
        {"no --model: the 50 kHz model", {}, 0, " Sensor Model: AR4000 - 50 kHz\n"},
    };
    write("settings.cfg", kGoodConfig);
    int number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string name = "capture" + std::to_string(++number) + ".dat";
        std::vector<std::string> args = {"write-header", "settings.cfg", name};
        args.insert(args.end(), c.model_option.begin(), c.model_option.end());
        const ToolRun written = run(args);
        EXPECT_EQ(written.code(), kExitSuccess) << written.describe();
        EXPECT_EQ(written.out, std::string(kGoodConfigEcho) + "Header written to " + name +
                                   ": version 3, 293 bytes, sensor model " +
                                   std::to_string(c.model_byte) + " (" +
                                   (c.model_byte == 1 ? "200 kHz" : "50 kHz") + ")\n");
        EXPECT_EQ(written.err, "");

        // The file itself: little-endian fields in file order, the model byte last.
        const std::string bytes = bytes_of(name);
        ASSERT_EQ(bytes.size(), kHeaderSizeV3);
        EXPECT_EQ(le32(bytes, 0), 3u) << "version";
        EXPECT_EQ(le32(bytes, 4), 20u) << "sampling period";
        EXPECT_EQ(le32(bytes, 20), 4096u) << "motor 1 encoder ppr before the calibration value";
        EXPECT_EQ(le32(bytes, 28), 0u) << "calibration value";
        EXPECT_EQ(static_cast<unsigned char>(bytes[34]), 3) << "com port";
        EXPECT_EQ(std::string(bytes.c_str() + 36), "LOOKUPHS") << "calibration file";
        EXPECT_EQ(bytes[292], c.model_byte);

        const ToolRun listed = run({"header", name});
        EXPECT_EQ(listed.code(), kExitSuccess) << listed.describe();
        EXPECT_EQ(listed.out, std::string(kGoodListing) + c.model_line);
        EXPECT_EQ(listed.err, "");
    }

    // header refuses a file cut short or with a bad model byte, made from the --model 1 header.
    const std::string good = bytes_of("capture1.dat");
    ASSERT_EQ(good.size(), kHeaderSizeV3);
    const struct {
        const char* legend;
        size_t keep;     // bytes of a good header kept
        int model_byte;  // when not negative, the byte at 292 becomes this
    } bad_headers[] = {
        {"an empty file", 0, -1},
        {"cut inside the version", 3, -1},
        {"cut after the card number, before the calibration file name", 36, -1},
        {"cut inside the calibration file name", 200, -1},
        {"version 3 without its model byte", 292, -1},
        {"model byte 2", kHeaderSizeV3, 2},
    };
    for (const auto& c : bad_headers) {
        SCOPED_TRACE(c.legend);
        std::string bytes = good.substr(0, c.keep);
        if (c.model_byte >= 0) {
            bytes[292] = static_cast<char>(c.model_byte);
        }
        write("bad.dat", bytes);
        const ToolRun r = run({"header", "bad.dat"});
        EXPECT_EQ(r.code(), kExitFailure) << r.describe();
        EXPECT_EQ(r.out, "") << "no listing";
        EXPECT_EQ(r.err, "capture-tool: bad.dat does not begin with a valid capture header\n");
    }

    SCOPED_TRACE("a file that does not exist");
    const ToolRun missing = run({"header", "missing.dat"});
    EXPECT_EQ(missing.code(), kExitFailure) << missing.describe();
    EXPECT_EQ(missing.out, "Could not open missing.dat\n");
    EXPECT_EQ(missing.err, "");
}

// An existing name is never written over: a file keeps its bytes, and a name that leads to a
// device is an existing file too, natively as under Wine, left alone. Only a regular file is
// ever removed after a failure: a link removed here would have been the device itself had it
// been named directly.
TEST_F(CaptureToolE2e, WriteHeaderNeverOverwritesAFile) {
    const struct {
        const char* legend;
        const char* name;
        const char* device;  // the device the name leads to; null: a file of capture data
    } cases[] = {
        {"a file of capture data", "existing.dat", nullptr},
        {"a device every write to fails (no space left)", "full.dat", "/dev/full"},
        {"a device that takes every write", "null.dat", "/dev/null"},
    };
    const std::string capture = "capture data that must survive";
    write("settings.cfg", kGoodConfig);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        if (c.device == nullptr) {
            write(c.name, capture);
        } else {
            fs::create_symlink(c.device, dir_ / c.name);
        }
        const ToolRun r = run({"write-header", "settings.cfg", c.name});
        EXPECT_EQ(r.code(), kExitFailure) << r.describe();
        EXPECT_EQ(r.out, kGoodConfigEcho) << "the configuration is read first";
        EXPECT_EQ(r.err, std::string("capture-tool: ") + c.name +
                             " already exists and is not overwritten; remove it or choose another "
                             "name\n");
        if (c.device == nullptr) {
            EXPECT_EQ(bytes_of(c.name), capture);
        } else {
            EXPECT_TRUE(fs::is_symlink(dir_ / c.name));
        }
    }
}

// --- version --------------------------------------------------------------------------------

// "1.1" as a file version: four numbers, the missing ones 0.
std::string four_part(const std::string& version) {
    std::string text = version;
    for (size_t dots = count_of(version, "."); dots < 3; ++dots) {
        text += ".0";
    }
    return text;
}

// version prints a file's version, or the tool's own without a file, and exits 0; a file without
// one prints nothing and exits 1, and so does every file natively (no version resources there).
TEST_F(CaptureToolE2e, VersionPrintsAFilesVersionOrNothing) {
    const std::string versioned = env_or_empty("VERSIONED_LIBRARY");
    const std::string unversioned = env_or_empty("UNVERSIONED_LIBRARY");
    if (wine()) {
        ASSERT_FALSE(e2e_target().version.empty()) << "MORVANE_VERSION is not set";
        EXPECT_TRUE(fs::exists(versioned)) << versioned << " (build it with: make windows)";
        EXPECT_TRUE(fs::exists(unversioned)) << unversioned << " (build it with: make windows)";
    }
    write("notes.txt", "no version here\n");
    struct Case {
        std::string legend;
        std::vector<std::string> args;
        std::string version;  // what it prints under Wine; empty: nothing, and exit code 1
    };
    std::vector<Case> cases = {
        {"the tool itself", {"version"}, four_part(e2e_target().version) + "\n"},
        {"a text file", {"version", "notes.txt"}, ""},
        {"a file that does not exist", {"version", "missing.dll"}, ""},
        {"a path longer than 259 characters", {"version", std::string(300, 'x')}, ""},
    };
    // Natively the libraries are those of a Windows build, when there is one.
    if (fs::exists(versioned)) {
        cases.push_back({"a library: its file version, not the product version 5.6.7.8",
                         {"version", tool_path(versioned)},
                         "1.2.3.4\n"});
    }
    if (fs::exists(unversioned)) {
        cases.push_back(
            {"a library without a version resource", {"version", tool_path(unversioned)}, ""});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const ToolRun r = run(c.args);
        const std::string printed = wine() ? c.version : "";
        EXPECT_EQ(r.code(), printed.empty() ? kExitFailure : kExitSuccess) << r.describe();
        EXPECT_EQ(r.out, printed);
        EXPECT_EQ(r.err, "");
    }
}

// --- tune -----------------------------------------------------------------------------------

// Whether the tool may set the normal priority: always under Wine; natively unless this process
// (whose nice value the tool inherits) runs below normal, since going back up to normal is
// raising the priority, which Linux permits only to the privileged.
bool normal_priority_permitted(bool wine) {
    if (wine) {
        return true;
    }
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    return nice <= 0 && errno == 0;
}

TEST_F(CaptureToolE2e, TuneReportsWhatItSetOrTheSystemsReason) {
    const struct {
        const char* word;
        const char* success;  // the line printed when it is set
        const char* failure;  // the message heading after "Error %d (0x%08x)\n" when it is not
        bool must_succeed;    // permitted here; otherwise either answer is checked whole
    } cases[] = {
        {"normal", "Process priority set to normal\n",
         "Failed to set process priority to normal:\n  ", normal_priority_permitted(wine())},
        // Raising the priority or narrowing the affinity may be refused (an unprivileged user).
        {"above-normal", "Process priority set to above normal\n",
         "Failed to set process priority to above normal:\n  ", false},
        {"first-cpu", "Process affinity set to the first processor (mask 0x01)\n",
         "Failed to set process affinity mask to 0x01:\n  ", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        const ToolRun r = run({"tune", c.word});
        EXPECT_EQ(r.err, "");
        if (c.must_succeed || r.code() == kExitSuccess) {
            EXPECT_EQ(r.code(), kExitSuccess) << r.describe();
            EXPECT_EQ(r.out, c.success);
            continue;
        }
        EXPECT_EQ(r.code(), kExitFailure) << r.describe();
        // "Error 5 (0x00000005)\n", the heading, the system's text and a line feed; the code
        // the same in decimal and in hexadecimal.
        std::smatch code;
        static const std::regex error_line("^Error ([0-9]+) \\(0x([0-9a-f]{8})\\)\n");
        ASSERT_TRUE(std::regex_search(r.out, code, error_line)) << r.out;
        EXPECT_EQ(std::stoul(code[1].str()), std::stoul(code[2].str(), nullptr, 16)) << r.out;
        EXPECT_EQ(r.out.compare(code.length(0), std::strlen(c.failure), c.failure), 0) << r.out;
        EXPECT_EQ(r.out.back(), '\n');
    }
}

// --- split ----------------------------------------------------------------------------------

TEST_F(CaptureToolE2e, SplitPrintsNameAndExtension) {
    const struct {
        const char* legend;
        const char* path;
        const char* out;  // the name line and the extension line
    } cases[] = {
        {"drive, folders, upper case: the last component lowered, cut at its dot",
         R"(C:\Data\Scan.RAW)", "scan\nraw\n"},
        {"two dots: cut at the last", "archive.tar.gz", "archive.tar\ngz\n"},
        {"a leading dot only: no extension", ".profile", ".profile\n\n"},
        {"a trailing backslash: an empty name", R"(C:\Data\)", "\n\n"},
        {"a dot in a folder name is no extension", R"(Old.Runs\Survey)", "survey\n\n"},
        {"no dot: no extension", "README", "readme\n\n"},
        {"a slash does not separate components", "runs/Day1.LOG", "runs/day1\nlog\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const ToolRun r = run({"split", c.path});
        EXPECT_EQ(r.code(), kExitSuccess) << r.describe();
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
}

// --- the command line -----------------------------------------------------------------------

// The first line of the tool's usage, and of each command's.
constexpr const char* kUsage = "usage: capture-tool COMMAND [ARGUMENTS]\n";
constexpr const char* kConfigUsage = "usage: capture-tool config FILE\n";
constexpr const char* kHeaderUsage = "usage: capture-tool header FILE\n";
constexpr const char* kWriteHeaderUsage =
    "usage: capture-tool write-header CONFIG OUT [--model 0|1]\n";
constexpr const char* kVersionUsage = "usage: capture-tool version [FILE]\n";
constexpr const char* kTuneUsage = "usage: capture-tool tune above-normal|first-cpu|normal\n";
constexpr const char* kSplitUsage = "usage: capture-tool split PATH\n";

TEST_F(CaptureToolE2e, HelpOnEveryCommand) {
    const struct {
        std::vector<std::string> args;
        const char* usage_line;  // the first line of standard output
    } cases[] = {
        {{"--help"}, kUsage},
        {{"config", "--help"}, kConfigUsage},
        {{"header", "--help"}, kHeaderUsage},
        {{"write-header", "--help"}, kWriteHeaderUsage},
        {{"version", "--help"}, kVersionUsage},
        {{"tune", "--help"}, kTuneUsage},
        {{"split", "--help"}, kSplitUsage},
        {{"write-header", "a.cfg", "--help"}, kWriteHeaderUsage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const ToolRun r = run(c.args);
        EXPECT_EQ(r.code(), kExitSuccess) << r.describe();
        EXPECT_EQ(r.out.rfind(c.usage_line, 0), 0u) << r.out;
        EXPECT_GT(r.out.size(), std::string(c.usage_line).size() + 20) << "and a sentence";
        EXPECT_EQ(r.err, "");
    }
    // The overview names every command.
    const ToolRun overview = run({"--help"});
    for (const char* command : {"config", "header", "write-header", "version", "tune", "split"}) {
        EXPECT_NE(overview.out.find(std::string("capture-tool ") + command + " "),
                  std::string::npos)
            << command;
    }
}

TEST_F(CaptureToolE2e, WrongCommandLinesGiveUsageAndExitCode2) {
    write("settings.cfg", kGoodConfig);
    const struct {
        const char* legend;
        std::vector<std::string> args;
        const char* usage_line;  // expected on standard error
    } cases[] = {
        {"no command", {}, kUsage},
        {"an unknown command", {"check", "settings.cfg"}, kUsage},
        {"config without a file", {"config"}, kConfigUsage},
        {"config with two files", {"config", "a", "b"}, kConfigUsage},
        {"header without a file", {"header"}, kHeaderUsage},
        {"write-header with one file", {"write-header", "settings.cfg"}, kWriteHeaderUsage},
        {"write-header with model 2",
         {"write-header", "settings.cfg", "x.dat", "--model", "2"},
         kWriteHeaderUsage},
        {"write-header with --model and no value",
         {"write-header", "settings.cfg", "x.dat", "--model"},
         kWriteHeaderUsage},
        {"--model on another command", {"config", "settings.cfg", "--model", "1"}, kConfigUsage},
        {"version with two files", {"version", "a", "b"}, kVersionUsage},
        {"tune without a word", {"tune"}, kTuneUsage},
        {"tune with an unknown word", {"tune", "high"}, kTuneUsage},
        {"split without a path", {"split"}, kSplitUsage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const ToolRun r = run(c.args);
        EXPECT_EQ(r.code(), kExitUsage) << r.describe();
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.usage_line), std::string::npos) << r.err;
    }
    EXPECT_FALSE(exists("x.dat")) << "a wrong command line writes nothing";
}

}  // namespace
