#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ombrix::test {

// A port that nobody uses at this moment on `ip`, for a stream (SOCK_STREAM) or datagram
// (SOCK_DGRAM) socket, so that tests running side by side do not collide. 0 on failure.
inline int freePort(const char* ip, int type = SOCK_STREAM) {
    int fd = ::socket(AF_INET, type, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, ip, &address.sin_addr);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

}  // namespace ombrix::test
