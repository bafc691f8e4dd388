#include "serial/serial_port.h"

#include <cstdio>
#include <cstring>

HANDLE hComm = INVALID_HANDLE_VALUE;
DCB PortDcb;

namespace serial {

const std::array<PortRow, 4> kPortTable = {{
    {"RadioButton3", "COM1", 115200},
    {"RadioButton4", "COM2", 115200},
    {"RadioButton1", "COM3", 38400},
    {"RadioButton2", "COM4", 115200},
}};

namespace {

std::string Reason(DWORD error, int err) {
    switch (error) {
        case ERROR_SHARING_VIOLATION:
            return "in use by another program";
        case ERROR_NOT_SUPPORTED:
            return "not a serial device";
        default:
            return err != 0 ? std::strerror(err) : "unknown error";
    }
}

// Steps 2 to 6 of an open. The rest of the sequence runs whatever CreateFileA returned; the calls
// fail harmlessly on the invalid handle and their results are not needed.
std::optional<OpenFailure> Open(const char* port, DWORD rate, bool startup) {
    hComm = CreateFileA(port, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    std::optional<OpenFailure> failure;
    if (hComm == INVALID_HANDLE_VALUE)  // taken now, before later calls replace the last error
        failure = OpenFailure{port, ComDevicePath(port), Reason(GetLastError(), GetLastErrno())};

    GetCommState(hComm, &PortDcb);
    PortDcb.BaudRate = rate;
    PortDcb.ByteSize = 8;
    PortDcb.Parity = NOPARITY;
    PortDcb.StopBits = ONESTOPBIT;
    SetCommState(hComm, &PortDcb);
    if (startup) SetupComm(hComm, kQueueSize, kQueueSize);

    if (failure)
        std::fprintf(stderr, "quenby: cannot open %s (%s): %s\n", failure->port.c_str(),
                     failure->device.c_str(), failure->reason.c_str());
    return failure;
}

}  // namespace

std::optional<OpenFailure> OpenStartupPort() {
    const PortRow& row = kPortTable[kStartupPort];
    return Open(row.caption, row.rate, true);
}

std::optional<OpenFailure> SelectPort(std::size_t row) {
    const PortRow& port = kPortTable.at(row);  // a row outside the table throws, closing nothing
    CloseHandle(hComm);
    return Open(port.caption, port.rate, false);
}

}  // namespace serial
