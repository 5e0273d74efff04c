#pragma once
// The run sequence: the command line, the output files and the ports, the gyro phase, then the
// laser phase, the GPS receiver recorded beside both, and the exit code.

namespace driver {

// Exit codes of the process.
constexpr int kExitOk = 0;
constexpr int kExitStartupFailure = 1;  // bad command line, file or port, unit, gyro or GPS file

// Runs the whole program on the command line and returns the process exit code.
int run(int argc, char** argv);

}  // namespace driver
