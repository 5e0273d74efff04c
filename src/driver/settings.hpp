#pragma once
// RunSettings and the command line that fills them.

#include <cstdint>
#include <cstdio>

#include "laser/laser_phase.hpp"

namespace driver {

// Every setting of one run, filled once from the command line. Text settings point at the
// argument words themselves. The laser phase's settings (laser_file, laser_port, board_number,
// sample_period, lines, max_range, motor_number, motor_power) are the base the laser phase takes.
struct RunSettings : laser::LaserSettings {
    const char* gyro_file = nullptr;
    const char* gps_file = nullptr;
    char gyro_mode = 'a';
    const char* gyro_port = "COM2";
    int32_t gyro_baud = 38400;
    double dt = -1.0;         // seconds per packet count; below zero: write counts, not times
    double time_rate = 0.0;   // least spacing of the records written with times (-f)
    uint32_t decimation = 1;  // packets read per output record
    int32_t dos_time = 0;     // non-zero: the time column carries the clock time
    const char* gps_port = "COM3";
    int32_t gps_baud = 9600;
    int32_t gps_bits = 8;
    int32_t gps_parity = 0;
    int32_t gps_stop_bits = 0;
};

enum ParseResult {
    kParseOk = 0,
    kParseUsage = 1,  // fewer than three file names: the usage text was printed
    kParseError = 2   // a bad option word: its message was printed
};

// Fills *settings from the argument words; prints the usage text
// or an error message on out. Does not read standard input or end the process.
ParseResult parse_arguments(int argc, char** argv, RunSettings* settings, FILE* out);

// parse_arguments on standard output; on kParseUsage reads one character from standard input and
// ends the process with exit code 1, and on kParseError ends it with exit code 1.
void parse_command_line(int argc, char** argv, RunSettings* settings);

// Writes the 26-line usage text with the program name word to out.
void print_usage(const char* program, FILE* out);

// Checks what the command line cannot: a mode letter the unit knows, a decimation that is not
// negative, a time step (-t) and record spacing (-f) that give finite times, lines within the
// sample array, and then that the laser, gyro and GPS file names lead to three different files
// (nothing is created). Prints one line on stderr per fault (for the files, the first two that
// clash); returns true when the settings can be used. Takes decimation 0 as 1 (full rate).
bool check_settings(RunSettings* settings);

}  // namespace driver
