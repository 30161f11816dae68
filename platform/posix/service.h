// What a long-running network service needs of the system: a listening
// socket for an address as the user wrote it, and the stop signals. Only
// kestrel-exporter uses it, and it is built for Linux alone.
#pragma once

#include <string>

namespace platform {

// Opens a TCP socket that listens on `address`: "HOST:PORT", ":PORT" for
// every interface (IPv6 and IPv4 where the system has both), "[V6]:PORT".
// Port 0 takes a free one. Returns the socket, or -1 with `*why` saying why
// in words (the system's own for a refused bind, "address already in use").
int ListenOn(const std::string& address, std::string* why);

// The address a listening socket is bound to, written the way ListenOn reads
// it ("127.0.0.1:9747", "[::]:9747"); empty when it cannot be asked.
std::string BoundAddress(int socket);

// Blocks SIGTERM and SIGINT in the calling thread and in every thread it
// starts afterwards, so that WaitForStopSignal alone sees them.
void BlockStopSignals();

// Waits for SIGTERM or SIGINT; returns its number.
int WaitForStopSignal();

}  // namespace platform
