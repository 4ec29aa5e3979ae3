// --pcap: every datagram the emulator's socket sends and receives, written to a pcap file.
//
// The SDK endpoint reads its socket itself and, in its draining mode, keeps only the last of
// several queued datagrams; to record each one, the socket calls of this program pass through
// capture.cpp (the executable is linked with --wrap for send, sendto, recv and recvfrom).
#pragma once

#include <string>

namespace torvane_sim {

// Starts the capture file. Returns false after printing why it cannot be written.
bool OpenCapture(const std::string& path);
// Records the traffic of socket `fd` from now on (no-op without an open capture).
void WatchSocket(int fd);
// Flushes and closes the capture file; returns false after printing if writing failed.
bool CloseCapture();

}  // namespace torvane_sim
