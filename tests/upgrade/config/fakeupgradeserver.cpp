// SPDX-License-Identifier: MIT
#include "fakeupgradeserver.h"

#include <httplib.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstdio>

std::string md5Hex(const std::string &text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

FakeUpgradeServer::FakeUpgradeServer(std::string prefix, std::string key,
                                     const std::string &certFile, const std::string &keyFile)
    : m_prefix(std::move(prefix))
    , m_key(std::move(key))
{
    if (certFile.empty())
        m_server = std::make_unique<httplib::Server>();
    else
        m_server = std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str());

    m_server->Get(".*", [this](const httplib::Request &req, httplib::Response &res) {
        const std::string token = req.get_header_value("token");
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back({req.path, token});
        const bool prefixed = req.path.compare(0, m_prefix.size(), m_prefix) == 0;
        if (!prefixed || token != md5Hex(req.path.substr(m_prefix.size()) + m_key)) {
            res.status = 403;
            res.set_content("bad token", "text/plain");
            return;
        }
        res.status = m_status;
        res.set_content(m_body, "application/json");
    });
}

FakeUpgradeServer::~FakeUpgradeServer()
{
    stop();
}

bool FakeUpgradeServer::start()
{
    if (!m_server->is_valid())
        return false;
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        return false;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // Bounded wait for the accept loop to run.
    for (int i = 0; i < 500 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return m_server->is_running();
}

void FakeUpgradeServer::stop()
{
    if (m_thread.joinable()) {
        m_server->stop();
        m_thread.join();
    }
}

void FakeUpgradeServer::setAnswer(int status, std::string body)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = status;
    m_body = std::move(body);
}

std::vector<FakeUpgradeServer::Request> FakeUpgradeServer::takeRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Request> out;
    out.swap(m_requests);
    return out;
}
