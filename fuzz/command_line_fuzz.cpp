// Fuzz target: the command line and the start-up checks on any words. The input is cut into
// words at zero bytes and line feeds. Besides what the sanitizers catch, the parser must report
// the usage exactly when fewer than three file names are given, take the file names from the
// first three words, and settings that pass the checks must be ones the run can use.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ahrs/packet.hpp"
#include "driver/settings.hpp"
#include "laser/samples.hpp"
#include "scratch_file.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words{"morvane"};
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\0' || data[i] == '\n') {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    static FILE* const sink = std::fopen("/dev/null", "w");
    driver::RunSettings settings;
    const driver::ParseResult result = driver::parse_arguments(argc, argv.data(), &settings, sink);
    fuzz::check((result == driver::kParseUsage) == (argc < 4));
    if (result != driver::kParseOk) {
        return 0;
    }
    fuzz::check(settings.laser_file == argv[1] && settings.gyro_file == argv[2] &&
                settings.gps_file == argv[3]);
    std::fflush(stderr);
    if (!driver::check_settings(&settings)) {
        return 0;
    }
    fuzz::check(ahrs::packet_length_of(settings.gyro_mode) != 0);
    fuzz::check(settings.decimation >= 1 && settings.decimation <= INT32_MAX);
    fuzz::check(settings.lines >= 0 && settings.lines <= laser::kMaxLines);
    fuzz::check(!std::isnan(settings.dt) && settings.dt <= 1e6);
    fuzz::check(std::isfinite(settings.time_rate));
    return 0;
}
