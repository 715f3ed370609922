// SPDX-License-Identifier: MIT
// A small HTTP server on 127.0.0.1 for pages that a browser control loads: folders and fixed
// pages, served from a thread of its own on a free port until the server is destroyed.
#pragma once

#include <memory>
#include <string>

namespace norvane {

class LoopbackServer
{
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    // Folders and pages go in before start(). prefix "/" serves dir at the root; false when the
    // folder cannot be served.
    bool mount(const std::string &prefix, const std::string &dir);
    void page(const std::string &path, const std::string &html);
    // Binds a free port of 127.0.0.1 and starts answering; false when no port could be had.
    bool start();

    int port() const;
    // "http://127.0.0.1:PORT" followed by path.
    std::string url(const std::string &path = "/") const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace norvane
