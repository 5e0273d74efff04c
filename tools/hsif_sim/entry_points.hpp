#pragma once
// The library's 50 exported entry points, declared from the program's own list, so a definition
// whose type differs from what the program calls does not compile.

#include <cstdint>

#include "laser/hsif_api.hpp"

// The build says how a definition is exported: dllexport for the Windows DLL; nothing on Linux,
// where a version script exports the Hsif names and hides the rest.
#ifndef HSIF_SIM_EXPORT
#define HSIF_SIM_EXPORT
#endif

using laser::LaserSample;
using laser::RawSample;
using serial::SerialPort;

#define HSIF_SIM_DECLARE(name, params) HSIF_SIM_EXPORT int32_t HSIF_CALL name params;
extern "C" {
HSIF_ENTRY_POINTS(HSIF_SIM_DECLARE)
}
#undef HSIF_SIM_DECLARE
