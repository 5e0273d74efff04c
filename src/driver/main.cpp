// The entry point of morvane: the gyro phase, then the laser phase.

#include "driver/gyro_phase.hpp"

int main(int argc, char** argv) {
    return driver::run(argc, argv);
}
