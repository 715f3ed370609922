// SPDX-License-Identifier: MIT
#include "pageserver.h"

#include <httplib.h>

#include <thread>

namespace TestPages {

PageServer::PageServer()
    : m_server(std::make_unique<httplib::Server>())
{
    m_server->Get(".*", [this](const httplib::Request &req, httplib::Response &res) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests << QString::fromStdString(req.path);
        m_cacheControl[req.path] = req.get_header_value("Cache-Control");
        auto it = m_pages.find(req.path);
        if (it == m_pages.end()) {
            res.status = 404;
            res.set_content("not here", "text/plain");
            return;
        }
        res.status = it->second.status;
        res.set_header("Cache-Control", "max-age=3600");
        res.set_content(it->second.body, it->second.type.c_str());
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = new std::thread([this] { m_server->listen_after_bind(); });
    // The server ignores a stop that comes before its thread is listening, and the join in the
    // destructor would then wait forever: a test that never loads a page ends that soon.
    if (m_port > 0)
        while (!m_server->is_running())
            std::this_thread::yield();
}

PageServer::~PageServer()
{
    m_server->stop();
    m_thread->join();
    delete m_thread;
}

void PageServer::add(const std::string &path, const std::string &body, const std::string &type,
                     int status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pages[path] = Page{body, type, status};
}

QString PageServer::url(const std::string &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(QString::fromStdString(path));
}

QStringList PageServer::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

bool PageServer::requested(const std::string &path) const
{
    return requests().contains(QString::fromStdString(path));
}

std::string PageServer::cacheControl(const std::string &path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_cacheControl.find(path);
    return it == m_cacheControl.end() ? std::string() : it->second;
}

std::string pngImage()
{
    static const unsigned char png[]
        = {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
           0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
           0x00, 0x1f, 0x15, 0xc4, 0x89, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x44, 0x41, 0x54, 0x78,
           0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0xf0, 0x1f, 0x00, 0x05, 0x00, 0x01, 0xff, 0x89, 0x99,
           0x3d, 0x1d, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    return std::string(reinterpret_cast<const char *>(png), sizeof png);
}

} // namespace TestPages
