// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace TestPages {

// Serves test pages on 127.0.0.1 from a thread of its own and records each path asked for.
class PageServer
{
public:
    PageServer();
    ~PageServer();

    void add(const std::string &path, const std::string &body,
             const std::string &type = "text/html", int status = 200);
    QString url(const std::string &path) const;
    QStringList requests() const;
    bool requested(const std::string &path) const;
    // The Cache-Control header of the last request for path ("" when none came).
    std::string cacheControl(const std::string &path) const;
    int port() const { return m_port; }

private:
    struct Page
    {
        std::string body;
        std::string type;
        int status;
    };
    std::unique_ptr<httplib::Server> m_server;
    mutable std::mutex m_mutex;
    std::map<std::string, Page> m_pages;
    QStringList m_requests;
    std::map<std::string, std::string> m_cacheControl;
    std::thread *m_thread = nullptr;
    std::atomic<bool> m_listeningDone{false};
    int m_port = 0;
};

// A tiny valid PNG, for image requests.
std::string pngImage();

// "/media.html": a page with an image ("/dot.png"), a video ("/clip.webm") and a sound
// ("/tune.ogg"), for what a download control lets in.
void addMediaPage(PageServer &server);

// Pumps the Qt event loop until done() or the time is up; returns done().
template <typename F>
bool waitFor(F done, int timeoutMs = 15000);

} // namespace TestPages

#include "pageserver_impl.h"
