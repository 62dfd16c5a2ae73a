#pragma once

namespace lf {

class Service;

// Connects a session to the layers that cannot include it: the bundle sender and the address
// book's session-backed sources. Every program that signs in calls this once at start.
void wireSession(Service &service);

} // namespace lf
