#include "Connection.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace lf::dev {

namespace {

int portOf(const sockaddr_storage &addr) {
    if (addr.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(addr).sin_port);
    if (addr.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(addr).sin6_port);
    return -1;
}

std::string hostOf(const sockaddr_storage &addr) {
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in &>(addr).sin_addr, text, sizeof text);
    else if (addr.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 &>(addr).sin6_addr, text, sizeof text);
    return text;
}

bool matches(int fd, const std::string &remoteAddr, int remotePort, int localPort) {
    struct stat st { };
    if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
        return false;
    sockaddr_storage local {}, peer {};
    socklen_t localLen = sizeof local, peerLen = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localLen) != 0 || portOf(local) != localPort)
        return false;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLen) != 0 || portOf(peer) != remotePort)
        return false;
    return remoteAddr.empty() || hostOf(peer) == remoteAddr;
}

std::vector<int> openDescriptors() {
    std::vector<int> fds;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (dirent *entry = readdir(dir)) {
            if (entry->d_name[0] != '.')
                fds.push_back(std::atoi(entry->d_name));
        }
        closedir(dir);
        return fds;
    }
    for (int fd = 0; fd < 4096; ++fd)
        fds.push_back(fd);
    return fds;
}

} // namespace

int connectionSocket(const std::string &remoteAddr, int remotePort, int localPort) {
    for (int fd : openDescriptors()) {
        if (matches(fd, remoteAddr, remotePort, localPort))
            return fd;
    }
    return -1;
}

void dropConnection(int fd) {
    if (fd < 0)
        return;
    // Reset instead of a polite close, so the client sees the connection lost at once.
    linger hard {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    shutdown(fd, SHUT_RDWR);
}

bool waitForPeerClose(int fd, int ms) {
    pollfd p {fd, POLLRDHUP, 0};
    if (poll(&p, 1, ms) <= 0)
        return false;
    return (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void ignoreBrokenPipes() {
    struct sigaction ignore { };
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

} // namespace lf::dev
