// SPDX-License-Identifier: MIT
#include "rawserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace TestSupport {

RawServer::RawServer(Behaviour behaviour, int maxConnections)
    : m_behaviour(std::move(behaviour))
    , m_maxConnections(maxConnections)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof(addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0 || ::listen(fd, 4) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        ::close(fd);
        return;
    }
    m_listenFd = fd;
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { run(); });
}

RawServer::~RawServer()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

void RawServer::run()
{
    int served = 0;
    // Short polls so that the destructor is never kept waiting long.
    while (!m_stopping && (m_maxConnections <= 0 || served < m_maxConnections)) {
        pollfd pfd{m_listenFd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        const int client = ::accept(m_listenFd, nullptr, nullptr);
        if (client < 0)
            continue;
        ++served;
        // Read the request head (bounded in time and size); a GET has no body.
        std::string head;
        char buffer[4096];
        for (int round = 0;
             round < 100 && head.find("\r\n\r\n") == std::string::npos && head.size() < 65536;
             ++round) {
            pollfd cpfd{client, POLLIN, 0};
            if (::poll(&cpfd, 1, 50) <= 0) {
                if (m_stopping)
                    break;
                continue;
            }
            const ssize_t n = ::recv(client, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            head.append(buffer, size_t(n));
        }
        m_behaviour(client, m_stopping);
        ::close(client);
    }
}

void RawServer::sendAll(int fd, const std::string &data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += size_t(n);
    }
}

void RawServer::waitForPeerClose(int fd, const std::atomic<bool> &stopping, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[256];
    while (!stopping && std::chrono::steady_clock::now() < end) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        if (::recv(fd, buffer, sizeof(buffer), 0) <= 0)
            return;
    }
}

int unusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

} // namespace TestSupport
