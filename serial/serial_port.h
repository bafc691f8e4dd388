#pragma once

#include <array>
#include <optional>
#include <string>

#include "platform/win_serial.h"

// The one serial port of the process and its settings record. Written only by the open sequence;
// every serial call takes hComm afresh at the moment of the call.
extern HANDLE hComm;
extern DCB PortDcb;

namespace serial {

struct PortRow {
    const char* radioButton;  // the port button's name in the main window
    const char* caption;      // also the port name passed to the open
    DWORD rate;
};

// COM1, COM2, COM3 and COM4, in that order. COM3 runs at 38400, the others at 115200.
extern const std::array<PortRow, 4> kPortTable;
inline constexpr std::size_t kStartupPort = 1;  // COM2
inline constexpr DWORD kQueueSize = 50000;

// Why an open failed, for the user.
struct OpenFailure {
    std::string port;    // "COM2"
    std::string device;  // "/dev/ttyS1"
    std::string reason;  // "Permission denied", "in use by another program", ...
};

// The start-up open: COM2 at 115200, 8N1, with the 50000-byte queue request. A failure stores
// the invalid handle, writes one line to standard error and is returned.
std::optional<OpenFailure> OpenStartupPort();

// A port selection: closes hComm, then opens the row's port at its rate, 8N1. Reports a failure
// the same way as the start-up open.
std::optional<OpenFailure> SelectPort(std::size_t row);

}  // namespace serial
