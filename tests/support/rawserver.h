// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace TestSupport {

// A bare TCP server on 127.0.0.1 for answers no HTTP library would give (a body cut short,
// silence). It serves one connection at a time: reads the request head, runs the behaviour on
// the socket, then closes it. With maxConnections above 0 it accepts no more than that many.
class RawServer
{
public:
    using Behaviour = std::function<void(int fd, const std::atomic<bool> &stopping)>;

    explicit RawServer(Behaviour behaviour, int maxConnections = 0);
    ~RawServer();
    RawServer(const RawServer &) = delete;
    RawServer &operator=(const RawServer &) = delete;

    int port() const { return m_port; }
    bool ok() const { return m_listenFd >= 0; }

    static void sendAll(int fd, const std::string &data);
    // Waits until the peer closes or the server stops, for at most timeoutMs.
    static void waitForPeerClose(int fd, const std::atomic<bool> &stopping, int timeoutMs);

private:
    void run();

    Behaviour m_behaviour;
    const int m_maxConnections;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

// A port on 127.0.0.1 that nothing listens on (bound, then released).
int unusedPort();

} // namespace TestSupport
