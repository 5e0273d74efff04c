// The entry point of morvane: the gyro phase, then the laser phase.

#include "driver/run.hpp"

int main(int argc, char** argv) {
    return driver::run(argc, argv);
}
