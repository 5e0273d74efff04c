// The package for the survey PC (make dist) end to end: the zip unpacked into a folder of its own
// and its programs run from there under Wine, as an operator would after copying it. Natively
// there is no package: each Windows build makes its own, which e2e-wine (32-bit) and e2e-wine64
// read at MORVANE_DIST_ZIP. A whole run of the unpacked program with its simulated library is in
// the laser suite (LaserE2e.TheUnpackedPackage...), which has the survey's world.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e_target.hpp"
#include "text.hpp"

namespace {

namespace fs = std::filesystem;
using testsupport::count_of;
using testsupport::e2e_target;
using testsupport::ExitStatus;
using testsupport::kHangBound;

class Package : public ::testing::Test {
protected:
    void SetUp() override {
        const testsupport::E2eTarget& t = e2e_target();
        if (!t.skip_reason.empty()) {
            GTEST_SKIP() << t.skip_reason;
        }
        if (!t.wine) {
            GTEST_SKIP() << "the package holds the Windows programs";
        }
        ASSERT_FALSE(t.dist_zip.empty()) << "MORVANE_DIST_ZIP is not set";
        ASSERT_TRUE(folder_.ok());
        ASSERT_EQ(testsupport::unpack_zip(t.dist_zip, folder_.path()), "");
    }

    fs::path unpacked(const std::string& name) const { return folder_.path() / name; }

    testsupport::TestFolder folder_{"dist-e2e"};
};

TEST_F(Package, HoldsTheProgramsTheGuideAndTheSimulatorInItsOwnFolder) {
    for (const char* name : {"morvane.exe", "capture-tool.exe", "README.txt", "simulator/hsif.dll",
                             "simulator/LOOKUPHS"}) {
        EXPECT_TRUE(fs::is_regular_file(unpacked(name))) << name;
    }
    EXPECT_FALSE(fs::exists(unpacked("hsif.dll")))
        << "a library beside the program would shadow the vendor's";

    const std::string guide = testsupport::read_file(unpacked("README.txt"));
    ASSERT_GT(count_of(guide, "\n"), 20u);
    EXPECT_EQ(count_of(guide, "\r\n"), count_of(guide, "\n")) << "every line ends in CR LF";
    EXPECT_EQ(guide.find("@VERSION@"), std::string::npos);
    EXPECT_NE(guide.find("morvane " + e2e_target().version + " "), std::string::npos);
    for (const char* topic :
         {"Install", "The command line", "The three files", "Exit codes", "simulated library"}) {
        EXPECT_NE(guide.find(topic), std::string::npos) << topic;
    }
}

TEST_F(Package, MorvaneWithoutArgumentsPrintsVersionAndUsageAndEndsWith1AfterAKey) {
    testsupport::TargetProgram program;
    ASSERT_TRUE(program.launch(unpacked("morvane.exe").string(), {}, {}, folder_.path().string()))
        << program.error();
    ASSERT_TRUE(program.wait_for_console("2 stop bits.")) << program.out() << program.err();
    EXPECT_TRUE(program.running()) << "it waits for one key";
    program.send("\n");
    const ExitStatus status = program.wait(kHangBound);
    EXPECT_EQ(status.code, 1) << status.describe();
    const std::string out = program.console_out();
    EXPECT_EQ(out.rfind("Version 1.1\nusage: ", 0), 0u) << out;
}

TEST_F(Package, CaptureToolCarriesTheProjectVersion) {
    testsupport::TargetProgram tool;
    ASSERT_TRUE(tool.launch(unpacked("capture-tool.exe").string(), {"version"}, {},
                            folder_.path().string()))
        << tool.error();
    tool.close_stdin();
    const ExitStatus status = tool.wait(kHangBound);
    EXPECT_EQ(status.code, 0) << status.describe() << tool.err();
    std::string version = e2e_target().version;
    for (size_t dots = count_of(version, "."); dots < 3; ++dots) {
        version += ".0";
    }
    EXPECT_EQ(tool.console_out(), version + "\n");
}

}  // namespace
