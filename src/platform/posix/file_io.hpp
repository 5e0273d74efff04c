#pragma once
// Synchronous transfers on regular files and other descriptors that are no serial device.

#include <cstdint>

#include "platform/win32.hpp"

namespace platform::posix {

// Reads up to `count` bytes, going on until they are all there or the file ends (a short count,
// as Windows reports the end of a file). Returns false with *error set (a Windows code) when the
// read fails; *got holds the bytes read either way.
bool file_read(int fd, uint8_t* buffer, DWORD count, DWORD* got, DWORD* error);

// Writes all `count` bytes. Returns false with *error set when a write fails; *done holds the
// bytes written either way.
bool file_write(int fd, const uint8_t* data, DWORD count, DWORD* done, DWORD* error);

}  // namespace platform::posix
