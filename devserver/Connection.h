#pragma once

#include <string>

namespace lf::dev {

// httplib hides the socket of a request; the dev API's drop and stall faults need it. Found through
// the kernel's connection tables by the request's ports (Linux); -1 when not found.
int connectionSocket(const std::string &remoteAddr, int remotePort, int localPort);
// Ends the connection without an answer; the server's own later write then fails quietly.
void dropConnection(int fd);
// Waits up to `ms` for the peer to close; true when it has.
bool waitForPeerClose(int fd, int ms);
// A write to a closed connection must fail with EPIPE instead of ending the process.
void ignoreBrokenPipes();

} // namespace lf::dev
