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
inline constexpr BYTE TWOSTOPBITS = 2;

// Error codes GetLastError reports after a failed CreateFileA.
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

// Opens "COM1".."COM4" (see ComDevicePath) or a device path, for this process alone when
// shareMode is 0. Returns INVALID_HANDLE_VALUE on failure, with the reason in GetLastError.
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL GetCommState(HANDLE file, DCB* dcb);
BOOL SetCommState(HANDLE file, DCB* dcb);
BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* stat);
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
// Writes every byte, synchronously. A line that takes nothing for kWriteTimeout (held stopped by
// flow control) fails the write with ERROR_GEN_FAILURE and errno ETIMEDOUT.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped);
BOOL CloseHandle(HANDLE object);
DWORD GetLastError();

// The errno behind the last failure of this thread, for messages (0 when none).
int GetLastErrno();

// The device a port name opens: "COMn" (n = 1..4) is /dev/ttyS(n-1) unless the environment
// variable QUENBY_COMn names another device; any other name is taken as a path.
std::string ComDevicePath(const std::string& portName);
