// A stand-in interface library for the binding tests: the 50 entry points, each returning its
// position in the lookup order (1 to 50); "load\n" and "unload\n" appended to the file that
// HSIF_STUB_TRACE names. Built with -DHsifGetDpcReadTime=<another name> it lacks that one.

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "laser/hsif_api.hpp"

namespace {

void trace(const char* event) {
    const char* path = std::getenv("HSIF_STUB_TRACE");
    if (path == nullptr) {
        return;
    }
    if (FILE* file = std::fopen(path, "ab")) {
        std::fputs(event, file);
        std::fclose(file);
    }
}

struct LoadTrace {
    LoadTrace() { trace("load\n"); }
    ~LoadTrace() { trace("unload\n"); }
} load_trace;

#define HSIF_STUB_NAME(name, params) #name,
constexpr std::string_view kNames[] = {HSIF_ENTRY_POINTS(HSIF_STUB_NAME)};
#undef HSIF_STUB_NAME

constexpr int32_t position(std::string_view name) {
    for (int32_t i = 0; i < laser::kHsifEntryPointCount; ++i) {
        if (kNames[i] == name) {
            return i + 1;
        }
    }
    return 0;
}

}  // namespace

using laser::LaserSample;
using laser::RawSample;
using laser::SerialPort;

extern "C" {
#define HSIF_STUB_DEFINE(name, params) \
    int32_t HSIF_CALL name params {    \
        return position(#name);        \
    }
HSIF_ENTRY_POINTS(HSIF_STUB_DEFINE)
#undef HSIF_STUB_DEFINE
}
