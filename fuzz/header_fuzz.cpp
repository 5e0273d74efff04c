// Fuzz target: read_capture_header on any file content. Besides what the sanitizers catch (a
// listing that reads past cal_file, for one), a header taken must be 293 bytes of version 3 with
// model 0 or 1, or 292 bytes of another version with the model unknown.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "capture_config/header.hpp"
#include "scratch_file.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::ScratchFile file;
    file.write(data, size);

    capture_config::CaptureHeader header;
    std::memset(&header, 0x5A, sizeof header);
    HANDLE handle = HANDLE{};
    const int32_t result = capture_config::read_capture_header(file.path(), &handle, &header);
    fuzz::check(handle != INVALID_HANDLE_VALUE);
    fuzz::check(result == 0 || result == 1);
    if (result == 1) {
        if (header.version == capture_config::kHeaderVersion) {
            fuzz::check(size >= capture_config::kHeaderSizeV3);
            fuzz::check(header.sensor_model == capture_config::kModel50kHz ||
                        header.sensor_model == capture_config::kModel200kHz);
        } else {
            fuzz::check(size >= capture_config::kHeaderSizeOther);
            fuzz::check(header.sensor_model == capture_config::kModelUnknown);
        }
        // The version is the file's first four bytes, little-endian.
        fuzz::check(header.version == (uint32_t{data[0]} | uint32_t{data[1]} << 8 |
                                       uint32_t{data[2]} << 16 | uint32_t{data[3]} << 24));
    }
    CloseHandle(handle);
    return 0;
}
