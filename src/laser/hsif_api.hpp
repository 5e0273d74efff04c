#pragma once
// The interface library's 50 entry points: their C names, their types, and the process-wide
// table HsifApi that load_hsif_library fills. The simulated library declares its exports from
// the same list, so program and library cannot disagree on a type.

#include <cstdint>

#include "laser/samples.hpp"
#include "serial/port.hpp"

// The calling convention of every entry point: the C convention, which is what both compilers
// use for a plain function, on 32-bit Windows and on Linux. Change it here, and only here, if a
// library version says otherwise.
#define HSIF_CALL

namespace laser {

using serial::SerialPort;

// X(name, parameter list) for the 50 entry points in lookup order; every one returns int32_t.
// card is the handle HsifOpen returned.
#define HSIF_ENTRY_POINTS(X)                                                                     \
    X(HsifDllInit, (void))                                                                       \
    X(HsifOpen, (int32_t board, SerialPort * port))                                              \
    X(HsifClose, (int32_t card))                                                                 \
    X(HsifSamplingModeInit, (int32_t card))                                                      \
    X(HsifResetBoard, (int32_t card))                                                            \
    X(HsifProcessSamples, (int32_t card, RawSample * raw, LaserSample * samples, int32_t count)) \
    X(HsifLoadCalibrationData, (int32_t card, const char* file_name))                            \
    X(HsifSetSamplePeriod, (int32_t card, int32_t mode, int32_t max_range, int32_t period))      \
    X(HsifLaserOn, (int32_t card))                                                               \
    X(HsifLaserOff, (int32_t card))                                                              \
    X(HsifSamplingEnable, (int32_t card))                                                        \
    X(HsifSamplingDisable, (int32_t card))                                                       \
    X(HsifClearOverflow, (int32_t card))                                                         \
    X(HsifClearSampleBuffer, (int32_t card))                                                     \
    X(HsifDataAvailable, (int32_t card))                                                         \
    X(HsifGetOverflowStatus, (int32_t card))                                                     \
    X(HsifSetMotorPower, (int32_t card, int32_t motor, int32_t power))                           \
    X(HsifClearEncoder, (int32_t card, int32_t encoders, int32_t value))                         \
    X(HsifCalibrateEncoder, (int32_t card, int32_t encoder, int32_t offset, int32_t per_turn))   \
    X(HsifCalibrate, (int32_t card))                                                             \
    X(HsifGetBufferedSamples,                                                                    \
      (int32_t card, RawSample * raw, int32_t count, int32_t * read, int32_t wait))              \
    X(HsifSetPollMode, (int32_t card, int32_t poll))                                             \
    X(HsifAddFunc, (int32_t a, int32_t b))                                                       \
    X(HsifOpenPort, (SerialPort * port, int32_t baud, int32_t port_number))                      \
    X(HsifReadPort, (SerialPort * port, char* buffer, int32_t length))                           \
    X(HsifWritePort, (SerialPort * port, const char* data, int32_t length))                      \
    X(HsifClosePort, (SerialPort * port))                                                        \
    X(HsifPurgePort, (SerialPort * port, int32_t flags))                                         \
    X(HsifSendStr, (SerialPort * port, const char* text))                                        \
    X(HsifSendBinary, (SerialPort * port, const uint8_t* data, int32_t length))                  \
    X(HsifAsciiRead, (SerialPort * port, char* buffer, int32_t length))                          \
    X(HsifAsciiReadLine, (SerialPort * port, char* buffer, int32_t length, int32_t timeout_ms))  \
    X(HsifBinaryReadBytes,                                                                       \
      (SerialPort * port, uint8_t * buffer, int32_t length, int32_t timeout_ms))                 \
    X(HsifGetCardModel, (int32_t card, int32_t * model))                                         \
    X(HsifGetMinSamplePeriod, (int32_t card, int32_t * period))                                  \
    X(HsifGetFPGAVersion, (int32_t card, int32_t * version))                                     \
    X(HsifSetSampleDiv, (int32_t card, int32_t divisor))                                         \
    X(HsifSetRangeDiv, (int32_t card, int32_t divisor))                                          \
    X(HsifGetCalValue, (int32_t card, int32_t * value))                                          \
    X(HsifSetCalValue, (int32_t card, int32_t value))                                            \
    X(HsifGetResolution, (int32_t card, int32_t * resolution))                                   \
    X(HsifRaw2Range, (int32_t card, int32_t raw, double* inches))                                \
    X(HsifClearL1OverflowFlag, (int32_t card))                                                   \
    X(HsifReadWord, (int32_t card, int32_t offset, int32_t * value))                             \
    X(HsifWriteWord, (int32_t card, int32_t offset, int32_t value))                              \
    X(HsifDisableInterrupts, (int32_t card))                                                     \
    X(HsifEnableInterrupts, (int32_t card))                                                      \
    X(HsifSetSampleEnBit, (int32_t card, int32_t enable))                                        \
    X(HsifBenchPciRead, (int32_t card, int32_t reads))                                           \
    X(HsifGetDpcReadTime, (int32_t card, int32_t * microseconds))

// The type of each entry point, as Hsif<Name>Fn.
#define HSIF_DECLARE_TYPE(name, params) using name##Fn = int32_t(HSIF_CALL*) params;
HSIF_ENTRY_POINTS(HSIF_DECLARE_TYPE)
#undef HSIF_DECLARE_TYPE

constexpr int kHsifEntryPointCount = 50;

// One slot per entry point: the address found for its name, or null.
struct HsifApi {
#define HSIF_DECLARE_SLOT(name, params) name##Fn name;
    HSIF_ENTRY_POINTS(HSIF_DECLARE_SLOT)
#undef HSIF_DECLARE_SLOT
};

static_assert(sizeof(HsifApi) == kHsifEntryPointCount * sizeof(void*));

// The process-wide table the laser phase calls through.
extern HsifApi hsif_api;

}  // namespace laser
