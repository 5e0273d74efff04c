// The smallest program of a Windows build: tools/run-tests runs it under Wine to learn whether
// Wine of the build's width can run programs on this machine at all.
#include <cstdio>

int main() {
    std::printf("wine-probe: %d-bit Windows program ran\n", static_cast<int>(sizeof(void*) * 8));
    return 0;
}
