// The laser control port on the library's own descriptor: a Windows build has none and refuses
// HSIF_SIM_OWN_PORT, so the port functions never reach the others.

#include <cstdio>

#include "own_port.hpp"

namespace hsif_sim::own_port {

HANDLE open(const char*, uint32_t) {
    std::fprintf(stderr,
                 "hsif-sim: HSIF_SIM_OWN_PORT=1 needs a POSIX build; the port is not opened\n");
    return INVALID_HANDLE_VALUE;
}

int32_t read_waiting(HANDLE, void*, int32_t) {
    return -1;
}

int32_t write(HANDLE, const void*, int32_t, uint32_t) {
    return -1;
}

bool purge(HANDLE, uint32_t) {
    return false;
}

void close(HANDLE) {}

}  // namespace hsif_sim::own_port
