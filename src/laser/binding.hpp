#pragma once
// Binding the interface library at run time: all 50 entry points into hsif_api, or none.

#include "platform/win32.hpp"

namespace laser {

// Loads the library "hsif" with the platform's standard search and looks up all 50 names into
// hsif_api. Returns the library handle, or null when it cannot be loaded or lacks any name (then
// it is released again).
HMODULE load_hsif_library();

// The library name, "hsif", without extension.
const char* hsif_library_name();

// Releases the library; returns the platform's result.
BOOL free_hsif_library(HMODULE library);

}  // namespace laser
