// Loads a library by name as the laser phase does and reports the outcome on one line:
// "loaded <GetModuleFileNameA path>" or "failed <GetLastError code>". For the loader's
// conformance tests, which copy this program to chosen folders to check the search order.

#include <cstdio>

#include "platform/win32.hpp"

int main(int argc, char** argv) {
    const char* name = argc > 1 ? argv[1] : "hsif";
    HMODULE library = LoadLibraryExA(name, 0, 0);
    if (library == nullptr) {
        std::printf("failed %u\n", static_cast<unsigned>(GetLastError()));
        return 1;
    }
    char path[260] = {};
    GetModuleFileNameA(library, path, sizeof path);
    std::printf("loaded %s\n", path);
    return 0;
}
