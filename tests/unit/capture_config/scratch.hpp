#pragma once
// What the capture utility tests share: scratch files in the temporary folder, removed at the end
// of each test, and standard output captured with the platform's line ends turned into "\n".

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace capture_test {

namespace fs = std::filesystem;

// A fixture that hands out scratch file paths and removes the files afterwards.
class Scratch : public testing::Test {
protected:
    void TearDown() override {
        for (const fs::path& path : paths_) {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    }

    // A fresh path in the temporary folder; the file is removed when the test ends.
    fs::path scratch_path(const std::string& suffix = ".tmp") {
        static std::mt19937 random{std::random_device{}()};
        fs::path path =
            fs::temp_directory_path() / ("morvane-capture-" + std::to_string(random()) + suffix);
        paths_.push_back(path);
        return path;
    }

    // Writes bytes to a fresh scratch file, unchanged (binary).
    fs::path file_with(const std::string& bytes, const std::string& suffix = ".tmp") {
        fs::path path = scratch_path(suffix);
        std::ofstream out(path, std::ios::binary);
        out << bytes;
        return path;
    }

    static std::string bytes_of(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }

private:
    std::vector<fs::path> paths_;
};

// Standard output written while a function runs. The Windows C library writes "\n" on a text
// stream as "\r\n"; that is turned back into "\n".
template <typename F>
std::string stdout_of(F&& run) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    run();
    std::fflush(stdout);
    std::string raw = testing::internal::GetCapturedStdout();
    std::string text;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
            continue;
        }
        text += raw[i];
    }
    return text;
}

}  // namespace capture_test
