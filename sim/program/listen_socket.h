// The socket the emulator and the replay serve on: UDP, bound only to the address and port they
// were told, and watched by the capture where one is open.
#pragma once

#include <cstdint>
#include <string>

namespace torvane_sim {

// Returns the bound socket, or -1 after printing one line on why it cannot listen there. Port 0
// binds a free port; ListeningPort tells which.
int ListenSocket(const std::string& address, uint16_t port);

// The port a socket is bound to.
uint16_t ListeningPort(int fd);

}  // namespace torvane_sim
