// The package for the survey PC (make dist), unpacked into a folder of its own and its programs
// run from there under Wine, as an operator would. Natively there is no package; a whole run of
// the unpacked program is in the laser suite (LaserE2e.TheUnpackedPackage...).

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "e2e_target.hpp"
#include "text.hpp"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// The text of a section of the guide: from below its title's underline to the next section (the
// guide leaves two blank lines before each title).
std::string section(const std::string& guide, const std::string& title) {
    const size_t title_at = guide.find("\n" + title + "\n---");
    if (title_at == std::string::npos) {
        ADD_FAILURE() << "the guide has no section " << title;
        return {};
    }
    const size_t start = guide.find('\n', title_at + title.size() + 2);
    return guide.substr(start, guide.find("\n\n\n", start) - start);  // to the end when none
}

// The option letters a text names: each word "-X" of one letter.
std::set<char> option_letters(const std::string& text) {
    static const std::regex option(R"((^|\s)-([A-Za-z])(?=\s))");
    std::set<char> letters;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it) {
        letters.insert((*it)[2].str()[0]);
    }
    return letters;
}

// The exit codes section as code -> its paragraph, white space folded to single blanks.
std::map<int, std::string> exit_codes(const std::string& text) {
    static const std::regex code(R"(\n  (\d+) +)");
    // The text before the first code, then each code and the paragraph after it.
    const std::vector<std::string> parts(
        std::sregex_token_iterator(text.begin(), text.end(), code, {-1, 1}),
        std::sregex_token_iterator());
    std::map<int, std::string> codes;
    for (size_t i = 1; i < parts.size(); i += 2) {
        const std::string paragraph = i + 1 < parts.size() ? parts[i + 1] : "";
        codes[std::stoi(parts[i])] = std::regex_replace(paragraph, std::regex(R"(\s+)"), " ");
    }
    return codes;
}

class Package : public ::testing::Test {
protected:
    void SetUp() override {
        const E2eTarget& t = e2e_target();
        if (!t.skip_reason.empty()) {
            GTEST_SKIP() << t.skip_reason;
        }
        if (!t.wine) {
            GTEST_SKIP() << "the package holds the Windows programs";
        }
        ASSERT_FALSE(t.dist_zip.empty()) << "MORVANE_DIST_ZIP is not set";
        ASSERT_TRUE(folder_.ok());
        ASSERT_EQ(unpack_zip(t.dist_zip, folder_.path()), "");
    }

    fs::path unpacked(const std::string& name) const { return folder_.path() / name; }

    TestFolder folder_{"dist-e2e"};
};

TEST_F(Package, HoldsTheProgramsTheGuideAndTheSimulatorInItsOwnFolder) {
    for (const char* name : {"morvane.exe", "capture-tool.exe", "README.txt", "review.html",
                             "simulator/hsif.dll", "simulator/LOOKUPHS"}) {
        EXPECT_TRUE(fs::is_regular_file(unpacked(name))) << name;
    }
    const std::string page = read_file(unpacked("review.html"));
    EXPECT_NE(page.find("<script"), std::string::npos) << "the page carries its script";
    EXPECT_EQ(page.find("src=\"http"), std::string::npos) << "and fetches nothing";
    EXPECT_FALSE(fs::exists(unpacked("hsif.dll")))
        << "a library beside the program would shadow the vendor's";

    const std::string guide = read_file(unpacked("README.txt"));
    ASSERT_GT(count_of(guide, "\n"), 20u);
    EXPECT_EQ(count_of(guide, "\r\n"), count_of(guide, "\n")) << "every line ends in CR LF";
    EXPECT_EQ(guide.find("@VERSION@"), std::string::npos);
    EXPECT_NE(guide.find("morvane " + e2e_target().version + " "), std::string::npos);
    for (const char* topic : {"Install", "The command line", "The three files", "Exit codes",
                              "Reviewing a run", "simulated library"}) {
        EXPECT_NE(guide.find(topic), std::string::npos) << topic;
    }
}

// The unpacked morvane.exe without arguments prints its version and usage, waits for a key and
// ends with 1. The guide's option list and exit codes are the program's: the command line section
// names every option letter of that usage and no other, and the exit codes section names each
// code a run ends with and what leads to it.
TEST_F(Package, MorvanePrintsItsUsageAndTheGuideListsItsOptionsAndExitCodes) {
    TargetProgram program;
    ASSERT_TRUE(program.launch(unpacked("morvane.exe").string(), {}, {}, folder_.path().string()))
        << program.error();
    EXPECT_TRUE(program.wait_for_console("2 stop bits.")) << program.out() << program.err();
    EXPECT_TRUE(program.running()) << "it waits for one key";
    program.send("\n");
    const ExitStatus status = program.wait(kHangBound);
    EXPECT_EQ(status.code, 1) << status.describe();
    const std::string usage = program.console_out();
    EXPECT_EQ(usage.rfind("Version 1.1\nusage: ", 0), 0u) << usage;

    const std::string guide = without_crlf(read_file(unpacked("README.txt")));
    EXPECT_EQ(option_letters(section(guide, "The command line")), option_letters(usage));

    const struct {
        int code;
        std::vector<std::string> causes;  // phrases its paragraph holds, white space folded
    } codes[] = {
        {0, {"the run completed", "stopped by q"}},
        {1,
         {"bad command line", "not three different files", "GPS file", "the unit never answered",
          "gyro file could not be written", "whose GPS file could not be written"}},
        {2, {"library missing", "a set-up step", "laser file could not be written"}},
        {130, {"Ctrl+C"}},
    };
    const std::map<int, std::string> listed = exit_codes(section(guide, "Exit codes"));
    ASSERT_EQ(listed.size(), std::size(codes));
    for (const auto& c : codes) {
        ASSERT_EQ(listed.count(c.code), 1u) << c.code;
        for (const std::string& cause : c.causes) {
            EXPECT_NE(listed.at(c.code).find(cause), std::string::npos) << c.code << ": " << cause;
        }
    }
}

TEST_F(Package, CaptureToolCarriesTheProjectVersion) {
    TargetProgram tool;
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
