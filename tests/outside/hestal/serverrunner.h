// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <thread>

// Runs a cpp-httplib server on a free port of 127.0.0.1 on a thread of its own.
template <typename ServerT>
class ServerRunner
{
public:
    bool start(ServerT &server)
    {
        m_server = &server;
        m_port = server.bind_to_any_port("127.0.0.1");
        if (m_port <= 0)
            return false;
        m_thread = std::thread([&server] { server.listen_after_bind(); });
        for (int i = 0; i < 200 && !server.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return server.is_running();
    }
    void stop()
    {
        if (m_server)
            m_server->stop();
        if (m_thread.joinable())
            m_thread.join();
    }
    int port() const { return m_port; }

private:
    ServerT *m_server = nullptr;
    int m_port = 0;
    std::thread m_thread;
};
