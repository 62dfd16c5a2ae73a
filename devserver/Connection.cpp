#include "Connection.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
    sockaddr_storage local {}, peer {};
    socklen_t localLen = sizeof local, peerLen = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localLen) != 0 || portOf(local) != localPort)
        return false;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLen) != 0 || portOf(peer) != remotePort)
        return false;
    return remoteAddr.empty() || hostOf(peer) == remoteAddr;
}

// The kernel's socket tables name each connection by its ports and its inode; the inode then
// leads to our descriptor through /proc/self/fd. Touching only our own descriptor matters:
// probing every open one would race with other threads closing theirs.
unsigned long socketInode(int remotePort, int localPort) {
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        FILE *in = std::fopen(table, "r");
        if (!in)
            continue;
        char line[512];
        unsigned long found = 0;
        std::fgets(line, sizeof line, in); // header
        while (!found && std::fgets(line, sizeof line, in)) {
            char local[64], remote[64];
            unsigned long inode = 0;
            if (std::sscanf(line, " %*d: %63s %63s %*x %*s %*s %*s %*d %*d %lu", local, remote, &inode) != 3)
                continue;
            const char *localColon = std::strrchr(local, ':');
            const char *remoteColon = std::strrchr(remote, ':');
            if (inode != 0 && localColon && remoteColon
                && std::strtol(localColon + 1, nullptr, 16) == localPort
                && std::strtol(remoteColon + 1, nullptr, 16) == remotePort)
                found = inode;
        }
        std::fclose(in);
        if (found)
            return found;
    }
    return 0;
}

int descriptorOfInode(unsigned long inode) {
    DIR *dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    int fd = -1;
    while (dirent *entry = readdir(dir)) {
        char target[64] = {};
        const ssize_t length = readlinkat(dirfd(dir), entry->d_name, target, sizeof target - 1);
        if (length > 0 && wanted == std::string(target, size_t(length))) {
            fd = std::atoi(entry->d_name);
            break;
        }
    }
    closedir(dir);
    return fd;
}

} // namespace

int connectionSocket(const std::string &remoteAddr, int remotePort, int localPort) {
    const unsigned long inode = socketInode(remotePort, localPort);
    const int fd = inode ? descriptorOfInode(inode) : -1;
    return fd >= 0 && matches(fd, remoteAddr, remotePort, localPort) ? fd : -1;
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
