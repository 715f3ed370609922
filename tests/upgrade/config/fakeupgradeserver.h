// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
} // namespace httplib

// An upgrade server on 127.0.0.1 that checks the token of each request the way the real one
// would: the MD5 of the path it received, less its own prefix, followed by the key. A request
// with a wrong token gets 403 and the body "bad token"; one with the right token gets the
// answer that was set last.
class FakeUpgradeServer
{
public:
    struct Request
    {
        std::string path;
        std::string token;
    };

    // With certFile and keyFile the server speaks HTTPS, otherwise plain HTTP.
    FakeUpgradeServer(std::string prefix, std::string key, const std::string &certFile = {},
                      const std::string &keyFile = {});
    ~FakeUpgradeServer();
    FakeUpgradeServer(const FakeUpgradeServer &) = delete;
    FakeUpgradeServer &operator=(const FakeUpgradeServer &) = delete;

    // Binds a free port and serves on a thread of its own; false when that did not work.
    bool start();
    void stop();
    int port() const { return m_port; }

    void setAnswer(int status, std::string body);
    std::vector<Request> takeRequests();

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = -1;
    const std::string m_prefix;
    const std::string m_key;

    std::mutex m_mutex;
    int m_status = 200;
    std::string m_body;
    std::vector<Request> m_requests;
};

// MD5 of text as 32 lowercase hex digits, computed apart from the engine's own code.
std::string md5Hex(const std::string &text);
