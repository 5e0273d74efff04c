// A library for the loader's conformance tests. It is built without the platform layer: the
// Windows-named functions it calls are the loading program's own, found when it is loaded.

#include "platform/win32.hpp"

extern "C" {

// A fixed value, to show the entry point found is this library's.
int probe_answer() {
    return 42;
}

// Opens a device through the program's CreateFileA; the handle belongs to the program's table.
HANDLE probe_open(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, 0);
}

}  // extern "C"
