// SPDX-License-Identifier: MIT
#include "qstringprint.h"
#include "rawserver.h"
#include "serverrunner.h"
#include "testcerts.h"

#include <hestal/hestal.h>
#include <httplib.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using TestSupport::RawServer;

namespace {

const std::string kUtf8Text = "Gr\xc3\xb6\xc3\x9f"
                              "e \xe2\x9c\x93 version";
const QString kToken = QStringLiteral("token:0123456789abcdef0123456789abcdef");

std::string bigBody()
{
    std::string body;
    body.reserve(256 * 1024);
    for (int i = 0; body.size() < 256 * 1024; ++i)
        body += std::to_string(i) + ',';
    return body;
}

// Collects what DownloadFile hands over, and where.
struct Collector
{
    std::string data;
    int calls = 0;
    std::vector<std::thread::id> threads;
    int refuseAtCall = 0; // 1-based; 0 never
    enum class Refusal { Zero, Short, Throw } how = Refusal::Zero;
};

size_t collect(void *data, size_t size, size_t count, void *user)
{
    auto *c = static_cast<Collector *>(user);
    ++c->calls;
    c->threads.push_back(std::this_thread::get_id());
    const size_t bytes = size * count;
    if (c->calls == c->refuseAtCall) {
        switch (c->how) {
        case Collector::Refusal::Zero:
            return 0;
        case Collector::Refusal::Short:
            return bytes - 1;
        case Collector::Refusal::Throw:
            throw std::runtime_error("disk full");
        }
    }
    c->data.append(static_cast<const char *>(data), bytes);
    return bytes;
}

DonwloadFileParam paramFor(Collector &collector)
{
    return DonwloadFileParam{&collect, &collector, nullptr};
}

// One client used the way the engine uses it.
struct Client
{
    CHttp http;
    explicit Client(int connectMs = 5000, int lowLimit = 512, int lowTime = 20)
    {
        http.InitData();
        http.setTimeOut(connectMs, lowLimit, lowTime);
    }
};

class HttpTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_server.Get("/echo", [this](const httplib::Request &req, httplib::Response &res) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_seen.push_back(req);
            res.set_content("ok", "text/plain");
        });
        m_server.Get("/text", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(kUtf8Text, "application/json; charset=utf-8");
        });
        m_server.Get(R"(/status/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content("body of " + std::string(req.matches[1]), "text/plain");
        });
        m_server.Get("/redirect", [](const httplib::Request &, httplib::Response &res) {
            res.set_redirect("/text");
        });
        m_server.Get("/hop/loop", [](const httplib::Request &, httplib::Response &res) {
            res.set_redirect("/hop/loop");
        });
        m_server.Get("/hop/relative", [](const httplib::Request &, httplib::Response &res) {
            res.set_redirect("/echo");
        });
        m_server.Get(R"(/hop/to/([a-z0-9.]+))",
                     [this](const httplib::Request &req, httplib::Response &res) {
                         res.set_redirect("http://" + std::string(req.matches[1]) + ":"
                                          + std::to_string(m_runner.port()) + "/echo");
                     });
        m_server.Get("/big", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(bigBody(), "application/octet-stream");
        });
        ASSERT_TRUE(m_runner.start(m_server));
    }
    void TearDown() override { m_runner.stop(); }

    QString url(const char *path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_runner.port()).arg(path);
    }
    std::vector<httplib::Request> seen()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_seen;
    }

    httplib::Server m_server;
    ServerRunner<httplib::Server> m_runner;
    std::mutex m_lock;
    std::vector<httplib::Request> m_seen;
};

TEST_F(HttpTest, GetInfoSendsTheHeaderListAsGiven)
{
    Client client;
    const QStringList headers{kToken, QStringLiteral("X-Check: a b  c")};
    ASSERT_EQ(client.http.GetInfo(url("/echo?r=0.42"), headers), HTTP_ERROR_OK);
    EXPECT_EQ(client.http.GetResult(), QStringLiteral("ok"));

    const auto requests = seen();
    ASSERT_EQ(requests.size(), 1u);
    const httplib::Request &req = requests.front();
    EXPECT_EQ(req.method, "GET");
    EXPECT_EQ(req.get_param_value("r"), "0.42");
    EXPECT_EQ(req.get_header_value("token"), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(req.get_header_value_count("token"), 1u);
    EXPECT_EQ(req.get_header_value("X-Check"), "a b  c");
}

TEST_F(HttpTest, GetResultIsTheBodyAsUtf8AndInitDataClearsIt)
{
    Client client;
    ASSERT_EQ(client.http.GetInfo(url("/text"), {}), HTTP_ERROR_OK);
    EXPECT_EQ(client.http.GetResult(), QString::fromStdString(kUtf8Text));
    EXPECT_EQ(client.http.GetStatusCode(), 200);

    client.http.InitData();
    EXPECT_TRUE(client.http.GetResult().isEmpty());
    EXPECT_EQ(client.http.GetStatusCode(), 0);
}

struct StatusRow
{
    const char *name;
    const char *path;
    HTTP_ERROR expected;
    long status;
    std::string body;
};

class HttpStatusTest : public HttpTest, public ::testing::WithParamInterface<StatusRow>
{};

TEST_P(HttpStatusTest, StatusDecidesAndTheBodyComesBackEitherWay)
{
    const StatusRow &row = GetParam();
    Client client;
    EXPECT_EQ(client.http.GetInfo(url(row.path), {kToken}), row.expected);
    EXPECT_EQ(client.http.GetResult(), QString::fromStdString(row.body));
    EXPECT_EQ(client.http.GetStatusCode(), row.status);
    EXPECT_EQ(client.http.GetErrorText().isEmpty(), row.expected == HTTP_ERROR_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, HttpStatusTest,
    ::testing::Values(StatusRow{"ok", "/status/200", HTTP_ERROR_OK, 200, "body of 200"},
                      StatusRow{"noContentIsSuccess", "/status/204", HTTP_ERROR_OK, 204, ""},
                      StatusRow{"redirectFollowed", "/redirect", HTTP_ERROR_OK, 200, kUtf8Text},
                      StatusRow{"endlessRedirect", "/hop/loop", HTTP_ERROR_TRANSFER, 302, ""},
                      StatusRow{"badRequest", "/status/400", HTTP_ERROR_STATUS, 400, "body of 400"},
                      StatusRow{"notFound", "/status/404", HTTP_ERROR_STATUS, 404, "body of 404"},
                      StatusRow{"serverError", "/status/500", HTTP_ERROR_STATUS, 500,
                                "body of 500"}),
    [](const ::testing::TestParamInfo<StatusRow> &info) { return std::string(info.param.name); });

struct RedirectRow
{
    const char *name;
    const char *path;
    bool headersKept;
};

class HttpRedirectTest : public HttpTest, public ::testing::WithParamInterface<RedirectRow>
{};

// The caller's headers (the token among them) go to the host it named, not to one that a
// redirect points at.
TEST_P(HttpRedirectTest, CallersHeadersStayWithTheHostItNamed)
{
    const RedirectRow &row = GetParam();
    Client client;
    ASSERT_EQ(client.http.GetInfo(url(row.path), {kToken, QStringLiteral("X-Check: 1")}),
              HTTP_ERROR_OK)
        << client.http.GetErrorText().toStdString();
    EXPECT_EQ(client.http.GetResult(), QStringLiteral("ok"));
    const auto requests = seen();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].has_header("token"), row.headersKept);
    EXPECT_EQ(requests[0].has_header("X-Check"), row.headersKept);
}

INSTANTIATE_TEST_SUITE_P(Redirects, HttpRedirectTest,
                         ::testing::Values(RedirectRow{"relative", "/hop/relative", true},
                                           RedirectRow{"sameHost", "/hop/to/127.0.0.1", true},
                                           RedirectRow{"otherHost", "/hop/to/localhost", false}),
                         [](const ::testing::TestParamInfo<RedirectRow> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(HttpTest, DownloadHandsEveryBlockOverOnTheCallingThread)
{
    Client client;
    Collector collector;
    ASSERT_EQ(client.http.DownloadFile(url("/big"), paramFor(collector)), HTTP_ERROR_OK);
    // Everything arrived before DownloadFile returned.
    EXPECT_EQ(collector.data, bigBody());
    EXPECT_GT(collector.calls, 1);
    for (const std::thread::id &id : collector.threads)
        EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(HttpTest, DownloadOfAnErrorPageFailsWithoutWritingIt)
{
    Client client;
    Collector collector;
    EXPECT_EQ(client.http.DownloadFile(url("/status/404"), paramFor(collector)), HTTP_ERROR_STATUS);
    EXPECT_EQ(client.http.GetStatusCode(), 404);
    EXPECT_EQ(collector.calls, 0);
}

struct RefusalRow
{
    const char *name;
    Collector::Refusal how;
};

class HttpRefusalTest : public HttpTest, public ::testing::WithParamInterface<RefusalRow>
{};

TEST_P(HttpRefusalTest, ARefusedBlockEndsTheTransferWithAnError)
{
    Client client;
    Collector collector;
    collector.refuseAtCall = 2;
    collector.how = GetParam().how;
    EXPECT_EQ(client.http.DownloadFile(url("/big"), paramFor(collector)), HTTP_ERROR_WRITE);
    // Nothing more was handed over after the refusal.
    EXPECT_EQ(collector.calls, 2);
    EXPECT_FALSE(client.http.GetErrorText().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Refusals, HttpRefusalTest,
                         ::testing::Values(RefusalRow{"zero", Collector::Refusal::Zero},
                                           RefusalRow{"shortCount", Collector::Refusal::Short},
                                           RefusalRow{"exception", Collector::Refusal::Throw}),
                         [](const ::testing::TestParamInfo<RefusalRow> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(HttpTest, BadRequestsFailBeforeAnythingIsSent)
{
    Client client;
    EXPECT_EQ(client.http.GetInfo(url("/echo"), {QStringLiteral("X-Bad: a\r\nX-Injected: b")}),
              HTTP_ERROR_BAD_PARAM);
    EXPECT_EQ(client.http.GetInfo(QString(), {kToken}), HTTP_ERROR_BAD_URL);
    EXPECT_EQ(client.http.GetInfo(QStringLiteral("   "), {kToken}), HTTP_ERROR_BAD_URL);
    EXPECT_EQ(client.http.GetInfo(QStringLiteral("ftp://127.0.0.1:%1/echo").arg(m_runner.port()),
                                  {kToken}),
              HTTP_ERROR_BAD_URL);
    EXPECT_EQ(client.http.GetInfo(QStringLiteral("file:///etc/hostname"), {}), HTTP_ERROR_BAD_URL);
    EXPECT_EQ(client.http.DownloadFile(url("/big"), DonwloadFileParam{nullptr, nullptr, nullptr}),
              HTTP_ERROR_BAD_PARAM);
    EXPECT_TRUE(seen().empty());
}

TEST(HttpFailureTest, RefusedConnectionIsAnError)
{
    const int port = TestSupport::unusedPort();
    ASSERT_GT(port, 0);
    Client client;
    EXPECT_EQ(client.http.GetInfo(QStringLiteral("http://127.0.0.1:%1/").arg(port), {}),
              HTTP_ERROR_CONNECT);
    EXPECT_TRUE(client.http.GetResult().isEmpty());
}

// Declares more than it sends, then hangs up.
void cutShort(int fd, const std::atomic<bool> &)
{
    RawServer::sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                           "Content-Length: 1000\r\nConnection: close\r\n\r\npartial body");
}

TEST(HttpFailureTest, BodyCutShortIsAnErrorAndWhatArrivedIsKept)
{
    RawServer server(&cutShort);
    ASSERT_TRUE(server.ok());
    const QString address = QStringLiteral("http://127.0.0.1:%1/packet.7z").arg(server.port());

    Client info;
    EXPECT_EQ(info.http.GetInfo(address, {kToken}), HTTP_ERROR_PARTIAL);
    EXPECT_EQ(info.http.GetResult(), QStringLiteral("partial body"));

    Client download;
    Collector collector;
    EXPECT_EQ(download.http.DownloadFile(address, paramFor(collector)), HTTP_ERROR_PARTIAL);
    EXPECT_EQ(collector.data, "partial body");
}

// Accepts the request and never answers.
void silent(int fd, const std::atomic<bool> &stopping)
{
    RawServer::waitForPeerClose(fd, stopping, 10000);
}

TEST(HttpFailureTest, SilentServerIsGivenUpAfterTheLowSpeedTime)
{
    RawServer server(&silent);
    ASSERT_TRUE(server.ok());
    const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(server.port());

    Client download(5000, 512, 1);
    Collector collector;
    EXPECT_EQ(download.http.DownloadFile(address, paramFor(collector)), HTTP_ERROR_TIMEOUT);
    EXPECT_EQ(collector.calls, 0);
}

class HttpsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_ca = new TestSupport::KeyPair(TestSupport::makeCa("Test Root"));
        s_otherCa = new TestSupport::KeyPair(TestSupport::makeCa("Other Root"));
        s_server = new TestSupport::KeyPair(TestSupport::makeServerCert(*s_ca));
    }
    static void TearDownTestSuite()
    {
        delete s_ca;
        delete s_otherCa;
        delete s_server;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_ca->cert && s_otherCa->cert && s_server->cert);
        ASSERT_TRUE(m_dir.isValid());
        m_caFile = m_dir.filePath(QStringLiteral("ca.pem"));
        m_otherCaFile = m_dir.filePath(QStringLiteral("other.pem"));
        ASSERT_TRUE(TestSupport::writePem(s_ca->cert.get(), m_caFile.toStdString()));
        ASSERT_TRUE(TestSupport::writePem(s_otherCa->cert.get(), m_otherCaFile.toStdString()));

        m_server = std::make_unique<httplib::SSLServer>(s_server->cert.get(), s_server->key.get());
        ASSERT_TRUE(m_server->is_valid());
        m_server->Get("/secure", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("secret", "text/plain");
        });
        m_server->Get("/downgrade", [this](const httplib::Request &, httplib::Response &res) {
            res.set_redirect("http://127.0.0.1:" + std::to_string(m_plainRunner.port()) + "/plain");
        });
        ASSERT_TRUE(m_runner.start(*m_server));
        m_plain.Get("/plain", [this](const httplib::Request &, httplib::Response &res) {
            ++m_plainRequests;
            res.set_content("plain", "text/plain");
        });
        ASSERT_TRUE(m_plainRunner.start(m_plain));
    }
    void TearDown() override
    {
        CHttp::SetExtraCaFile(QString());
        m_runner.stop();
        m_plainRunner.stop();
    }

    QString url(const char *host = "127.0.0.1") const
    {
        return QStringLiteral("https://%1:%2/secure").arg(host).arg(m_runner.port());
    }

    static TestSupport::KeyPair *s_ca;
    static TestSupport::KeyPair *s_otherCa;
    static TestSupport::KeyPair *s_server;
    QTemporaryDir m_dir;
    QString m_caFile;
    QString m_otherCaFile;
    std::unique_ptr<httplib::SSLServer> m_server;
    ServerRunner<httplib::SSLServer> m_runner;
    httplib::Server m_plain;
    ServerRunner<httplib::Server> m_plainRunner;
    std::atomic<int> m_plainRequests{0};
};

TestSupport::KeyPair *HttpsTest::s_ca = nullptr;
TestSupport::KeyPair *HttpsTest::s_otherCa = nullptr;
TestSupport::KeyPair *HttpsTest::s_server = nullptr;

TEST_F(HttpsTest, UntrustedCertificateIsRefused)
{
    CHttp::SetExtraCaFile(QString());
    Client client;
    EXPECT_EQ(client.http.GetInfo(url(), {}), HTTP_ERROR_TLS);
    EXPECT_TRUE(client.http.GetResult().isEmpty());

    CHttp::SetExtraCaFile(m_otherCaFile);
    Client other;
    EXPECT_EQ(other.http.GetInfo(url(), {}), HTTP_ERROR_TLS);
}

TEST_F(HttpsTest, NamedCaFileIsTrustedForGetInfoAndDownload)
{
    CHttp::SetExtraCaFile(m_caFile);
    Client client;
    ASSERT_EQ(client.http.GetInfo(url(), {kToken}), HTTP_ERROR_OK)
        << client.http.GetErrorText().toStdString();
    EXPECT_EQ(client.http.GetResult(), QStringLiteral("secret"));

    Client download;
    Collector collector;
    EXPECT_EQ(download.http.DownloadFile(url(), paramFor(collector)), HTTP_ERROR_OK);
    EXPECT_EQ(collector.data, "secret");
}

TEST_F(HttpsTest, EnvironmentNamesTheCaFileWhenNoneIsSet)
{
    CHttp::SetExtraCaFile(QString());
    qputenv("HESTAL_CA_FILE", m_caFile.toUtf8());
    Client trusted;
    const HTTP_ERROR viaEnvironment = trusted.http.GetInfo(url(), {});
    // A path set in the process wins over the environment.
    CHttp::SetExtraCaFile(m_otherCaFile);
    Client overridden;
    const HTTP_ERROR viaSetter = overridden.http.GetInfo(url(), {});
    qunsetenv("HESTAL_CA_FILE");
    EXPECT_EQ(viaEnvironment, HTTP_ERROR_OK);
    EXPECT_EQ(viaSetter, HTTP_ERROR_TLS);
}

TEST_F(HttpsTest, TrustedCertificateForAnotherNameIsRefused)
{
    CHttp::SetExtraCaFile(m_caFile);
    Client client;
    // The certificate names 127.0.0.1 only.
    EXPECT_EQ(client.http.GetInfo(url("localhost"), {}), HTTP_ERROR_TLS);
}

// A secure address stays secure: a redirect to plain HTTP would carry the token in clear text.
TEST_F(HttpsTest, RedirectToPlainHttpIsRefused)
{
    CHttp::SetExtraCaFile(m_caFile);
    const QString address = QStringLiteral("https://127.0.0.1:%1/downgrade").arg(m_runner.port());
    Client client;
    EXPECT_NE(client.http.GetInfo(address, {kToken}), HTTP_ERROR_OK);
    EXPECT_FALSE(client.http.GetErrorText().isEmpty());
    Client download;
    Collector collector;
    EXPECT_NE(download.http.DownloadFile(address, paramFor(collector)), HTTP_ERROR_OK);
    EXPECT_TRUE(collector.data.empty());
    EXPECT_EQ(m_plainRequests, 0);
}

TEST_F(HttpsTest, MissingCaFileIsAnErrorNotACrash)
{
    CHttp::SetExtraCaFile(m_dir.filePath(QStringLiteral("absent.pem")));
    Client client;
    EXPECT_EQ(client.http.GetInfo(url(), {}), HTTP_ERROR_TLS);
}

} // namespace
