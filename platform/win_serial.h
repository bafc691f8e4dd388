#pragma once

// A small stand-in, over POSIX termios, for the part of the Windows serial interface the serial
// link is written against. Names, types and call shapes follow that interface, so a Windows build
// could use the real header instead. Only what the serial link passes and relies on is provided.

#include <chrono>
#include <cstdint>
#include <string>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LPCSTR = const char*;
using HANDLE = void*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

// How long WriteFile waits for a line that takes nothing before it fails.
inline constexpr std::chrono::seconds kWriteTimeout{5};

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD OPEN_EXISTING = 3;

inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ODDPARITY = 1;
inline constexpr BYTE EVENPARITY = 2;
inline constexpr BYTE MARKPARITY = 3;
inline constexpr BYTE SPACEPARITY = 4;
inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE ONE5STOPBITS = 1;  // what a UART sends for two stop bits of 5-bit characters
inline constexpr BYTE TWOSTOPBITS = 2;

// Error codes GetLastError reports after a failed call.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;      // no such device
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;       // permission denied
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;      // call on the invalid handle
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;  // held by another program
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;      // not a serial device
inline constexpr DWORD ERROR_GEN_FAILURE = 31;        // any other failure; errno in GetLastErrno
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;  // a setting the line cannot take

// Serial settings record. GetCommState fills every field from the driver; SetCommState applies
// rate and framing, keeps the flow control the record carries, and always sets a binary line.
// A default record is all zero; GetCommState sets DCBlength.
struct DCB {
    DWORD DCBlength = 0;
    DWORD BaudRate = 0;
    DWORD fBinary : 1 = 0;
    DWORD fParity : 1 = 0;
    DWORD fOutxCtsFlow : 1 = 0;  // RTS/CTS output flow control
    DWORD fOutxDsrFlow : 1 = 0;
    DWORD fDtrControl : 2 = 0;
    DWORD fDsrSensitivity : 1 = 0;
    DWORD fTXContinueOnXoff : 1 = 0;
    DWORD fOutX : 1 = 0;  // XON/XOFF output flow control
    DWORD fInX : 1 = 0;   // XON/XOFF input flow control
    DWORD fErrorChar : 1 = 0;
    DWORD fNull : 1 = 0;
    DWORD fRtsControl : 2 = 0;  // RTS_CONTROL_HANDSHAKE when RTS/CTS is on
    DWORD fAbortOnError : 1 = 0;
    WORD XonLim = 0;
    WORD XoffLim = 0;
    BYTE ByteSize = 0;
    BYTE Parity = 0;
    BYTE StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};

inline constexpr DWORD DTR_CONTROL_ENABLE = 1;
inline constexpr DWORD RTS_CONTROL_ENABLE = 1;
inline constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;

struct COMSTAT {
    DWORD cbInQue = 0;   // received bytes waiting in the driver's input queue
    DWORD cbOutQue = 0;  // bytes not yet sent
};

// Every call below takes a handle that CreateFileA returned. A handle outside the descriptor
// range (INVALID_HANDLE_VALUE among them) or a closed one fails the call with ERROR_INVALID_HANDLE
// and leaves every line alone. No call closes a handle except CloseHandle, none translates the
// bytes it moves (the line is binary both ways), and on failure each leaves GetLastError and
// GetLastErrno set; on success only CreateFileA resets them.

// Opens "COM1".."COM4" (see ComDevicePath) or a device path. Never waits: the descriptor is opened
// non-blocking, so a line without carrier opens at once, and stays non-blocking for every later
// call. shareMode 0 makes the port this process's alone (a lock that every such opener honours,
// and the terminal's exclusive-use flag for the others). Only a terminal is accepted.
// On failure: INVALID_HANDLE_VALUE, the reason in GetLastError (ERROR_FILE_NOT_FOUND,
// ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_NOT_SUPPORTED ...), no descriptor kept.
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);

// Fills the whole record from the driver's current settings: rate, character size, parity and its
// check, stop bits, RTS/CTS and XON/XOFF flow control with their characters; fBinary is always 1,
// DTR reads as enabled, every other field as 0. Changes nothing on the line.
// On failure: the record is left exactly as it was.
BOOL GetCommState(HANDLE file, DCB* dcb);

// Applies rate, character size, parity, stop bits and the flow control the record carries, on a
// raw binary line (no echo, no line editing, no CR/LF translation, no signals) whose reads return
// at once with what is waiting. Fields it does not know are ignored; XonChar and XoffChar of 0
// keep the line's characters. Never waits for output to drain.
// On failure: a refused record (a rate, size, parity or stop-bit value the line cannot take:
// ERROR_INVALID_PARAMETER) changes nothing, since every field is checked before any is applied.
BOOL SetCommState(HANDLE file, DCB* dcb);

// The queue-size request. The Linux tty layer sizes its own queues, so it only checks the handle.
BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);

// Reports the bytes waiting to be read (cbInQue) and, where the driver tells it, the bytes not yet
// sent (cbOutQue; a pseudo-terminal always reports 0). Never waits; *errors is always 0, as the
// line keeps no error condition to clear.
// On failure: *errors and *stat read all zero.
BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* stat);

// Reads at most toRead bytes that are already waiting, in arrival order. Never waits: with
// nothing waiting it returns TRUE with *read 0, and bytes that arrive during the call may stay
// for the next one.
// On failure (a hung-up line, EIO): *read is 0 and the buffer is untouched. A read that got some
// bytes before a failure succeeds with them.
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);

// Writes every byte, in order, synchronously: it returns once the driver has taken them all.
// While the line is full it retries after sleeps of about a millisecond. Where the driver reports
// its output queue (UARTs, USB adapters) it keeps no more than line_pacing::kQueuedLineTime
// (platform/line_pacing.h, 50 ms) of line time queued at the line's rate; where it does not (a
// pseudo-terminal reports 0 whatever it holds), the driver's buffer is the limit.
// On failure: a line that takes nothing for kWriteTimeout (held stopped by flow control) fails
// with ERROR_GEN_FAILURE and errno ETIMEDOUT; a hung-up line fails at once. *written then says
// how many bytes the driver took before the failure; they are not taken back.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped);

// What WriteFile does in one step, for callers that wait in their own way: hands the driver as
// many bytes as the line takes at once, within the same queue limit, and never waits. TRUE with
// *written 0 means the line is full or its queue at the limit. Not part of the Windows interface.
// On failure: as WriteFile, without the time-out.
BOOL WriteFileNow(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written);

// Closes a port, never waiting long: where the driver reports queued output, it gives it its
// line time to leave, at most line_pacing::kCloseWait (100 ms), then drops what is still queued,
// so the close itself has nothing to drain. A driver that reports no queue (a pseudo-terminal)
// keeps what it holds for the far end. A port opened for this process alone is released to every
// other opener.
// On failure: only a handle that names no descriptor fails; the handle is unusable afterwards
// either way.
BOOL CloseHandle(HANDLE object);

// The reason for this thread's last failure (ERROR_SUCCESS after a successful CreateFileA).
DWORD GetLastError();

// The errno behind the last failure of this thread, for messages (0 when none).
int GetLastErrno();

// The device a port name opens: "COMn" (n = 1..4) is /dev/ttyS(n-1) unless the environment
// variable QUENBY_COMn names another device; any other name is taken as a path. Reads the
// environment at each call.
std::string ComDevicePath(const std::string& portName);
