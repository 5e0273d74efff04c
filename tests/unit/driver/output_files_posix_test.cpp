// The start-up check that the laser, gyro and GPS files are three files: the same name, another
// spelling of a file still to be created, and an existing file through a link are refused;
// devices are not files that could overwrite one another.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "driver/settings.hpp"

namespace {

namespace fs = std::filesystem;

TEST(StartupChecks, OutputFilesMustBeThreeFiles) {
    char pattern[] = "/tmp/morvane-outputs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    std::ofstream(dir / "existing.txt") << "records";
    fs::create_hard_link(dir / "existing.txt", dir / "hard.txt");
    fs::create_symlink(dir / "existing.txt", dir / "soft.txt");
    fs::create_directory(dir / "sub");
    const std::string d = dir.string() + "/";

    struct Case {
        const char* legend;
        std::string laser, gyro, gps;
        const char* clash;  // the start of the message; empty when accepted
    };
    const Case cases[] = {
        {"three new files", d + "l.txt", d + "g.txt", d + "s.txt", ""},
        {"laser and gyro the same name", d + "same.txt", d + "same.txt", d + "s.txt",
         "Error: the laser file "},
        {"gyro and GPS, one spelled with a folder", d + "l.txt", d + "sub/../g.txt", d + "g.txt",
         "Error: the gyro file "},
        {"an existing file and its hard link", d + "existing.txt", d + "g.txt", d + "hard.txt",
         "Error: the laser file "},
        {"an existing file and a symbolic link to it", d + "l.txt", d + "soft.txt",
         d + "existing.txt", "Error: the gyro file "},
        {"an existing file and a new one", d + "existing.txt", d + "g.txt", d + "s.txt", ""},
        {"the null device twice", "/dev/null", d + "g.txt", "/dev/null", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        driver::RunSettings s;
        s.laser_file = c.laser.c_str();
        s.gyro_file = c.gyro.c_str();
        s.gps_file = c.gps.c_str();
        testing::internal::CaptureStderr();
        const bool ok = driver::check_settings(&s);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ok, *c.clash == '\0') << err;
        EXPECT_EQ(err.rfind(c.clash, 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), *c.clash == '\0' ? 0 : 1) << err;
    }
    EXPECT_FALSE(fs::exists(dir / "l.txt")) << "nothing is created";
    fs::remove_all(dir);
}

}  // namespace
