#pragma once
// The system services the subsystems use, under their Windows names. On Windows this is the
// Windows API itself; elsewhere the same names with the same 32-bit layouts, implemented in
// platform/posix/ over POSIX serial devices and files.

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else  // POSIX

#include <cstdarg>
#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using BOOL = int32_t;
using UINT = uint32_t;
using ULONG_PTR = uint32_t;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using LPCSTR = const char*;
using LPSTR = char*;
using PUINT = UINT*;
using DWORD_PTR = uint32_t;  // pointer-sized on Windows; this layer mirrors 32-bit Windows
using PDWORD_PTR = DWORD_PTR*;
using SIZE_T = size_t;
// Memory blocks handed out by LocalAlloc and GlobalAlloc are plain pointers (GMEM_FIXED and
// LMEM_FIXED blocks are on Windows too).
using HLOCAL = void*;
using HGLOBAL = void*;

// A handle is a 32-bit value, as on 32-bit Windows, so records that carry one keep their
// Windows offsets. The handle of a device or file is its file descriptor, whoever opened it (a
// library may open() one itself and hand it to these functions); events are numbered from
// 0x40000000 up, where no descriptor reaches. 0 and INVALID_HANDLE_VALUE are never valid.
using HANDLE = uint32_t;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
constexpr HANDLE INVALID_HANDLE_VALUE = 0xFFFFFFFFu;
constexpr DWORD MAXDWORD = 0xFFFFFFFFu;

// CreateFileA
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004u;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080u;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x00000001u;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002u;

// DCB values
constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;
constexpr DWORD DTR_CONTROL_DISABLE = 0;
constexpr DWORD DTR_CONTROL_ENABLE = 1;
constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_DISABLE = 0;
constexpr DWORD RTS_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_TOGGLE = 3;

// Error codes (the Windows values).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_BAD_COMMAND = 22;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_IO_INCOMPLETE = 996;
constexpr DWORD ERROR_IO_PENDING = 997;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

// ClearCommError line errors.
constexpr DWORD CE_RXOVER = 0x0001;    // input queue overflow
constexpr DWORD CE_OVERRUN = 0x0002;   // receiver overrun: a character was lost
constexpr DWORD CE_RXPARITY = 0x0004;  // parity error
constexpr DWORD CE_FRAME = 0x0008;     // framing error
constexpr DWORD CE_BREAK = 0x0010;     // a break was received

// FormatMessageA.
constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100u;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200u;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400u;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800u;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000u;
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000u;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FFu;
constexpr WORD LANG_NEUTRAL = 0x00;
constexpr WORD LANG_ENGLISH = 0x09;
constexpr WORD SUBLANG_NEUTRAL = 0x00;
constexpr WORD SUBLANG_DEFAULT = 0x01;
constexpr WORD SUBLANG_SYS_DEFAULT = 0x02;
constexpr WORD SUBLANG_ENGLISH_US = 0x01;
// A language identifier from its primary language and sublanguage (a macro on Windows).
constexpr WORD MAKELANGID(WORD primary, WORD sub) {
    return static_cast<WORD>((sub << 10) | primary);
}

// Memory blocks.
constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_ZEROINIT = 0x0040;

// Process priority classes.
constexpr DWORD IDLE_PRIORITY_CLASS = 0x00000040u;
constexpr DWORD BELOW_NORMAL_PRIORITY_CLASS = 0x00004000u;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020u;
constexpr DWORD ABOVE_NORMAL_PRIORITY_CLASS = 0x00008000u;
constexpr DWORD HIGH_PRIORITY_CLASS = 0x00000080u;

// SetCommMask / WaitCommEvent events.
constexpr DWORD EV_RXCHAR = 0x0001;
constexpr DWORD EV_RXFLAG = 0x0002;
constexpr DWORD EV_TXEMPTY = 0x0004;
constexpr DWORD EV_CTS = 0x0008;
constexpr DWORD EV_DSR = 0x0010;
constexpr DWORD EV_RLSD = 0x0020;
constexpr DWORD EV_BREAK = 0x0040;
constexpr DWORD EV_ERR = 0x0080;
constexpr DWORD EV_RING = 0x0100;

// PurgeComm flags.
constexpr DWORD PURGE_TXABORT = 0x0001;
constexpr DWORD PURGE_RXABORT = 0x0002;
constexpr DWORD PURGE_TXCLEAR = 0x0004;
constexpr DWORD PURGE_RXCLEAR = 0x0008;

// EscapeCommFunction functions.
constexpr DWORD SETXOFF = 1;
constexpr DWORD SETXON = 2;
constexpr DWORD SETRTS = 3;
constexpr DWORD CLRRTS = 4;
constexpr DWORD SETDTR = 5;
constexpr DWORD CLRDTR = 6;
constexpr DWORD RESETDEV = 7;
constexpr DWORD SETBREAK = 8;
constexpr DWORD CLRBREAK = 9;

// WaitForSingleObject.
constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0x00000000u;
constexpr DWORD WAIT_TIMEOUT = 0x00000102u;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// The device control block: line settings of a serial device.
struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};
using LPDCB = DCB*;

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};
using LPCOMMTIMEOUTS = COMMTIMEOUTS*;

struct OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

struct COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
};
using LPCOMSTAT = COMSTAT*;

// A loaded library. Unlike HANDLE it is pointer-sized: it stays inside this process and never
// crosses a record boundary. Null is no library.
struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
// An entry point found by GetProcAddress; cast it to the entry point's own type to call it. It
// is void (*)() here, the type compilers accept casts from without -Wcast-function-type (on
// Windows, cast through void (*)() first).
using FARPROC = void (*)();

// The fixed part of a file's version information, as VerQueryValueA returns it for "\\".
struct VS_FIXEDFILEINFO {
    DWORD dwSignature;  // 0xFEEF04BD
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;  // major << 16 | minor
    DWORD dwFileVersionLS;  // build << 16 | revision
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

static_assert(sizeof(DCB) == 28);
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);
static_assert(offsetof(VS_FIXEDFILEINFO, dwFileVersionMS) == 8);
static_assert(offsetof(DCB, XonLim) == 14);
static_assert(offsetof(DCB, ByteSize) == 18);
static_assert(offsetof(DCB, XonChar) == 21);
static_assert(sizeof(COMMTIMEOUTS) == 20);
static_assert(sizeof(OVERLAPPED) == 20);
static_assert(offsetof(OVERLAPPED, hEvent) == 16);
static_assert(sizeof(COMSTAT) == 12);
static_assert(offsetof(COMSTAT, cbInQue) == 4);

// The functions have C linkage: the program exports exactly these names
// (platform/posix/exports.list; docs/linux-library.md), as kernel32 does on Windows, so a
// library it loads calls the same functions on the same handles. Those marked "for libraries"
// are not called by the program itself.
extern "C" {

// Files and serial devices; the handle returned is the new file descriptor (never 0). A regular
// file opens as the disposition says (CREATE_ALWAYS truncates, OPEN_EXISTING fails with
// ERROR_FILE_NOT_FOUND on a missing file, CREATE_NEW with ERROR_FILE_EXISTS on an existing
// one); CREATE_ALWAYS and OPEN_ALWAYS set the last error to ERROR_ALREADY_EXISTS when the file
// was there, else 0. A device always exists: CREATE_NEW fails on it with ERROR_FILE_EXISTS, the
// other dispositions open it (truncating nothing). Share mode 0 is exclusive: while such a
// handle is open, other opens fail with ERROR_SHARING_VIOLATION, and it fails itself while the
// file is open elsewhere. A name containing '/' is a path; "COMn" (any case, optionally behind
// "\\.\") is the serial device /dev/ttyS(n-1). A terminal device is a serial device: it opens
// exclusively (a device already open elsewhere fails with ERROR_ACCESS_DENIED) and, as a Windows
// port keeps its line settings, with what a DCB expresses as the device was left (speed, byte
// size, parity, stop bits, XON/XOFF and RTS/CTS flow control; GetCommState reports them) and
// everything a DCB has no field for off (echo, line editing, signal characters, CR/NL
// translation, output processing, bit stripping).
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share_mode, LPSECURITY_ATTRIBUTES security,
                   DWORD creation_disposition, DWORD flags_and_attributes, HANDLE template_file);
// Closes the handle: a descriptor is closed (also one a library opened itself), an event freed.
// A handle that is not open fails with ERROR_INVALID_HANDLE.
BOOL CloseHandle(HANDLE handle);

// Every function that takes a device or file handle also takes a descriptor the layer did not
// open (a library's own), with the state a fresh handle has: time-outs all zero, no event mask,
// the DCB read from the device; a terminal is a serial device, anything else a file, and the
// access is what the descriptor was opened with. A descriptor opened blocking is made
// non-blocking for the length of a serial transfer and set back afterwards. A descriptor number
// closed and opened again on another file starts afresh. One that is not open is
// ERROR_INVALID_HANDLE.

// A serial read follows the device's COMMTIMEOUTS as Windows does: {MAXDWORD, MAXDWORD, C}
// returns at once with what is waiting, else waits up to C ms for the first byte;
// {MAXDWORD, 0, 0} returns at once. A timeout is success with 0 bytes; a device that hung up
// is a failure (ERROR_DEVICE_NOT_CONNECTED).
BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD to_write, LPDWORD written,
               LPOVERLAPPED overlapped);

BOOL SetupComm(HANDLE handle, DWORD in_queue, DWORD out_queue);
BOOL GetCommState(HANDLE handle, LPDCB dcb);
BOOL SetCommState(HANDLE handle, LPDCB dcb);
BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts);
// Reports the bytes waiting (cbInQue) and still to send (cbOutQue), and the line errors
// (CE_RXOVER, CE_OVERRUN, CE_RXPARITY, CE_FRAME, CE_BREAK) the device's driver counted since the
// previous call on the handle (or its open), which this call clears. A device whose driver keeps
// no such counts (a pseudo-terminal, most USB adapters) reports 0. A device that hung up fails
// with ERROR_DEVICE_NOT_CONNECTED.
BOOL ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT stat);
BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts);

// Stores the events WaitCommEvent would watch; nothing here waits on them.
BOOL SetCommMask(HANDLE handle, DWORD mask);
BOOL GetCommMask(HANDLE handle, LPDWORD mask);  // for libraries
// Discards what the CLEAR flags name (PURGE_RXCLEAR the input queue, PURGE_TXCLEAR the output
// queue); the ABORT flags succeed with nothing to do, since no transfer is ever left pending.
// Other bits fail with ERROR_INVALID_PARAMETER.
BOOL PurgeComm(HANDLE handle, DWORD flags);
// SETDTR/CLRDTR/SETRTS/CLRRTS drive the modem lines; a device without them (a pseudo-terminal)
// fails with ERROR_NOT_SUPPORTED, as Wine reports there. SETXOFF/SETXON suspend and resume
// output, SETBREAK/CLRBREAK hold and release a break, RESETDEV does nothing; any other value
// fails with ERROR_INVALID_PARAMETER.
BOOL EscapeCommFunction(HANDLE handle, DWORD function);

// An unnamed event, closed with CloseHandle; its handle is no file descriptor, and the file and
// serial functions refuse it (the event functions refuse a descriptor with
// ERROR_INVALID_HANDLE). Returns 0 (not INVALID_HANDLE_VALUE) on failure, as Windows does; a
// name fails with ERROR_NOT_SUPPORTED.
// An overlapped ReadFile or WriteFile sets the event of its OVERLAPPED block when it
// completes, which here is before it returns.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state,
                    LPCSTR name);
BOOL SetEvent(HANDLE event);    // for libraries
BOOL ResetEvent(HANDLE event);  // for libraries
// Waits up to `milliseconds` (INFINITE: no limit) for an event to be signalled; an auto-reset
// event is reset by the wait it ends. Returns WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED with
// the last error set. A file or serial handle is always signalled: its transfers have ended.
// For libraries.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Run-time libraries. A name with '/' is a path. Any other name is searched first in the folder
// of the running program, then by the dynamic linker's own search (LD_LIBRARY_PATH, the cache,
// the system folders); a name without an extension stands for lib<name>.so, as Windows adds
// ".dll" (see platform/library.hpp). `file` must be 0; `flags` are ignored. Returns null with
// ERROR_MOD_NOT_FOUND when no file is found, ERROR_PROC_NOT_FOUND when the library needs a name
// nobody provides, ERROR_BAD_EXE_FORMAT when the file is not a library for this program.
HMODULE LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags);
// Returns the library's entry point of that exact name, or null with ERROR_PROC_NOT_FOUND.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
// Releases one load of the library; it is unloaded when the last is released.
BOOL FreeLibrary(HMODULE module);
// Writes the real absolute path of the library's file (module null: the program's own file)
// and returns its length. When it does not fit, writes the first size - 1 characters and a
// terminator and returns size with ERROR_INSUFFICIENT_BUFFER, as Windows does. Returns 0 with
// the last error set when the module is unknown.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

DWORD GetLastError();
void SetLastError(DWORD code);  // for libraries
void Sleep(DWORD milliseconds);

// The outcome of an overlapped ReadFile or WriteFile on the handle: the byte count it moved in
// *count, TRUE when it succeeded, FALSE with its error code as the last error when it failed.
// Requests here complete before ReadFile or WriteFile returns, so `wait` never has to wait and
// ERROR_IO_INCOMPLETE never arises. An unknown handle fails with ERROR_INVALID_HANDLE.
BOOL GetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD count, BOOL wait);

// The system's text for an error code, as Windows words it in English, ending in "\r\n".
// Only FORMAT_MESSAGE_FROM_SYSTEM is a source (anything else fails with
// ERROR_INVALID_PARAMETER); the line-width bits are ignored. With
// FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` is really a char** that receives a LocalAlloc'd text
// (at least `size` bytes), released with LocalFree; otherwise the text and a terminator are
// written into `buffer` of `size` characters, failing with ERROR_INSUFFICIENT_BUFFER when they
// do not fit. Returns the text's length without the terminator; 0 with ERROR_MR_MID_NOT_FOUND
// for a code without text, ERROR_RESOURCE_LANG_NOT_FOUND for a language other than neutral,
// default or US English, ERROR_INVALID_PARAMETER for a text with inserts (%1) when
// FORMAT_MESSAGE_IGNORE_INSERTS is not given (they are then kept as they are). `source` and
// `arguments` are not used.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                     DWORD size, va_list* arguments);

// Memory blocks of `bytes` bytes (LMEM_ZEROINIT/GMEM_ZEROINIT: zero-filled; other flags than
// these and FIXED fail with ERROR_INVALID_PARAMETER). Null with ERROR_NOT_ENOUGH_MEMORY when
// none is left. The Free functions release a block of theirs and return null (a null block is
// accepted); anything else is undefined, as on Windows.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);  // for libraries
HLOCAL LocalFree(HLOCAL block);               // for libraries
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL GlobalFree(HGLOBAL block);

// The pseudo-handle of the calling process, (HANDLE)-1, a constant as on Windows. The process
// functions below accept only it (anything else fails with ERROR_INVALID_HANDLE).
HANDLE GetCurrentProcess();
// Sets the process's scheduling priority (its nice value, on every thread): IDLE 19,
// BELOW_NORMAL 10, NORMAL 0, ABOVE_NORMAL -5, HIGH -10. Raising it beyond what the system
// permits this process fails with ERROR_ACCESS_DENIED and changes nothing, as Windows refuses a
// class the caller may not set; an unknown class fails with ERROR_INVALID_PARAMETER.
BOOL SetPriorityClass(HANDLE process, DWORD priority_class);
// The class whose nice value is nearest the process's own; 0 with the last error on failure.
// For libraries.
DWORD GetPriorityClass(HANDLE process);
// Limits every thread of the process to the processors of the mask (bit n: processor n).
// A mask of 0 or one naming a processor this system does not have fails with
// ERROR_INVALID_PARAMETER, as Windows refuses a mask that is not a subset of the system's; so
// does a mask of none of the processors the process is let use (a container's limit). A
// refusal for lack of privilege is ERROR_ACCESS_DENIED.
BOOL SetProcessAffinityMask(HANDLE process, DWORD_PTR mask);
// The processors the process may run on, and those the system has (the first 32 of each).
// For libraries.
BOOL GetProcessAffinityMask(HANDLE process, PDWORD_PTR process_mask, PDWORD_PTR system_mask);

// File version information. Files here carry none: GetFileVersionInfoSizeA returns 0 with
// ERROR_RESOURCE_TYPE_NOT_FOUND for a file that exists (FILE_NOT_FOUND or PATH_NOT_FOUND when it
// does not), GetFileVersionInfoA fails the same way, and VerQueryValueA finds nothing in any
// block (FALSE, *value null, *length 0). `handle` is set to 0 and otherwise ignored, as on
// Windows.
DWORD GetFileVersionInfoSizeA(LPCSTR file, LPDWORD handle);
BOOL GetFileVersionInfoA(LPCSTR file, DWORD handle, DWORD size, LPVOID data);
BOOL VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* value, PUINT length);

}  // extern "C"

#endif  // _WIN32
