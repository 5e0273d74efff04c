#pragma once
// Windows device names mapped onto POSIX paths.

#include <string>

namespace platform::posix {

// The path CreateFileA opens for `name`: "COMn" (any case, optionally behind "\\.\", n from 1)
// is the serial device /dev/ttyS(n-1); any other name, one with '/' among them, is a path.
std::string device_path(const char* name);

}  // namespace platform::posix
