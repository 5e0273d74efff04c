#include "commands.hpp"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "capture_config/config.hpp"
#include "capture_config/file_info.hpp"
#include "capture_config/header.hpp"
#include "capture_config/tuning.hpp"
#include "platform/win32.hpp"

namespace capture_tool {

namespace {

// The longest path get_module_version takes: its 260-character buffer with the terminator.
constexpr size_t kMaxVersionPath = 259;

// "65535.65535.65535.65535" and its terminator fit with room to spare.
constexpr size_t kVersionTextSize = 32;

// Reads the configuration file at path into header; the values that go beside the header (the
// motor delay, the capture names, the two switches) are read and dropped.
int32_t read_config(const char* path, capture_config::CaptureHeader* header) {
    int32_t motor_delay_ms = 0;
    char raw_name[capture_config::kCaptureNameSize] = {};
    char prc_name[capture_config::kCaptureNameSize] = {};
    uint8_t single_cpu = 0;
    uint8_t write_raw = 0;
    return capture_config::parse_capture_config(path, header, &motor_delay_ms, raw_name, prc_name,
                                                &single_cpu, &write_raw);
}

const char* model_text(uint8_t sensor_model) {
    return sensor_model == capture_config::kModel200kHz ? "200 kHz" : "50 kHz";
}

}  // namespace

int check_config(const char* path) {
    capture_config::CaptureHeader header{};
    return read_config(path, &header) == 1 ? kExitSuccess : kExitFailure;
}

int list_header(const char* path) {
    HANDLE file = INVALID_HANDLE_VALUE;
    capture_config::CaptureHeader header{};
    const int32_t valid = capture_config::read_capture_header(path, &file, &header);
    if (file == INVALID_HANDLE_VALUE) {
        // The reader has said that the file could not be opened.
        return kExitFailure;
    }
    CloseHandle(file);
    if (valid != 1) {
        // The reader refuses a short header or a bad model byte without a word.
        std::fflush(stdout);
        std::fprintf(stderr, "capture-tool: %s does not begin with a valid capture header\n", path);
        return kExitFailure;
    }
    return kExitSuccess;
}

int write_header(const char* config_path, const char* out_path, uint8_t sensor_model) {
    capture_config::CaptureHeader header{};
    if (read_config(config_path, &header) != 1) {
        std::fflush(stdout);
        std::fprintf(stderr, "capture-tool: %s not written\n", out_path);
        return kExitFailure;
    }
    header.sensor_model = sensor_model;

    // CREATE_NEW: an existing file may be a capture, and its data would be lost for good.
    const HANDLE file = CreateFileA(out_path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, HANDLE{});
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        std::fflush(stdout);
        if (error == ERROR_FILE_EXISTS) {
            std::fprintf(stderr,
                         "capture-tool: %s already exists and is not overwritten; remove it or "
                         "choose another name\n",
                         out_path);
        } else {
            std::fprintf(stderr, "capture-tool: cannot create %s (error %u)\n", out_path,
                         static_cast<unsigned>(error));
        }
        return kExitFailure;
    }
    const int32_t written = capture_config::write_capture_header(file, &header);
    const BOOL closed = CloseHandle(file);
    if (written != 1 || !closed) {
        const DWORD error = GetLastError();
        // Half a header is no use to anyone, and the file is the one just created here (CREATE_NEW
        // refuses anything already there, a device too); only a regular file is ever removed.
        std::error_code ec;
        if (std::filesystem::is_regular_file(out_path, ec)) {
            std::remove(out_path);
        }
        std::fflush(stdout);
        std::fprintf(stderr, "capture-tool: cannot write the header to %s (error %u)\n", out_path,
                     static_cast<unsigned>(error));
        return kExitFailure;
    }
    std::printf("Header written to %s: version %u, %u bytes, sensor model %u (%s)\n", out_path,
                static_cast<unsigned>(capture_config::kHeaderVersion),
                static_cast<unsigned>(capture_config::kHeaderSizeV3),
                static_cast<unsigned>(sensor_model), model_text(sensor_model));
    return kExitSuccess;
}

int print_version(const char* path) {
    if (path != nullptr && std::strlen(path) > kMaxVersionPath) {
        return kExitFailure;
    }
    char text[kVersionTextSize] = {};
    if (capture_config::get_module_version(path, text, sizeof text) != 1) {
        return kExitFailure;
    }
    std::printf("%s\n", text);
    return kExitSuccess;
}

int tune(Tuning tuning) {
    int32_t done = 0;
    const char* what = "";
    switch (tuning) {
        case Tuning::kAboveNormal:
            done = capture_config::set_priority_above_normal();
            what = "Process priority set to above normal";
            break;
        case Tuning::kFirstCpu:
            done = capture_config::set_affinity_first_cpu();
            what = "Process affinity set to the first processor (mask 0x01)";
            break;
        case Tuning::kNormal:
            done = capture_config::set_priority_normal();
            what = "Process priority set to normal";
            break;
    }
    if (done != 1) {
        return kExitFailure;
    }
    std::printf("%s\n", what);
    return kExitSuccess;
}

int split_path(const char* path) {
    // split_file_name works in place; the caller's text stays as it was.
    std::vector<char> copy(path, path + std::strlen(path) + 1);
    char* extension = nullptr;
    const char* name = capture_config::split_file_name(copy.data(), &extension);
    std::printf("%s\n%s\n", name, extension != nullptr ? extension : "");
    return kExitSuccess;
}

}  // namespace capture_tool
