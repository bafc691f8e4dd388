#pragma once

// A pseudo-terminal standing in for a serial port: the test holds the master side (the board's
// end of the line), the code under test opens the slave path as its port.

#include <cstdint>
#include <string>

class PtyPair {
  public:
    // Throws std::runtime_error when no pseudo-terminal can be had.
    PtyPair();
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }

    // The board goes away: the slave side is hung up.
    void CloseMaster();

    // Sends bytes towards the port, as the board would, and waits for them to leave the master.
    void Send(const std::string& bytes) const;

    // Collects what the port sent, until `count` bytes have come or nothing more arrives within
    // `quietMs` milliseconds.
    std::string Receive(std::size_t count = SIZE_MAX, int quietMs = 200) const;

  private:
    int master_ = -1;
    std::string slavePath_;
};
