// SPDX-License-Identifier: MIT
// The connect-to map: a server known by a name that does not resolve here is reached on
// loopback, and its certificate is still checked against that name.
#include "messagecapture.h"
#include "qstringprint.h"
#include "serverrunner.h"
#include "testcerts.h"

#include <hestal/hestal.h>
#include <httplib.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// Made up; the reserved ".test" domain never resolves, so only the map can lead to the server.
const char kHost[] = "upgrade.norvane.test";

class ConnectToTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_ca = new TestSupport::KeyPair(TestSupport::makeCa("Connect-To Root"));
        s_server = new TestSupport::KeyPair(TestSupport::makeServerCert(*s_ca, kHost));
    }
    static void TearDownTestSuite()
    {
        delete s_ca;
        delete s_server;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_ca->cert && s_server->cert);
        ASSERT_TRUE(m_dir.isValid());
        m_caFile = m_dir.filePath(QStringLiteral("ca.pem"));
        ASSERT_TRUE(TestSupport::writePem(s_ca->cert.get(), m_caFile.toStdString()));
        CHttp::SetExtraCaFile(m_caFile);

        m_server = std::make_unique<httplib::SSLServer>(s_server->cert.get(), s_server->key.get());
        ASSERT_TRUE(m_server->is_valid());
        m_server->Get("/secure", [this](const httplib::Request &req, httplib::Response &res) {
            m_hostHeader = req.get_header_value("Host");
            res.set_content("secret", "text/plain");
        });
        ASSERT_TRUE(m_runner.start(*m_server));
    }
    void TearDown() override
    {
        qunsetenv("HESTAL_CONNECT_TO");
        CHttp::SetExtraCaFile(QString());
        m_runner.stop();
    }

    // "%P" in map stands for the server's port.
    HTTP_ERROR get(const QString &map, const QString &url, QString *body = nullptr)
    {
        qputenv("HESTAL_CONNECT_TO", QString(map).replace("%P", port()).toUtf8());
        CHttp http;
        http.InitData();
        http.setTimeOut(5000, 512, 20);
        const HTTP_ERROR result = http.GetInfo(url, {});
        if (body)
            *body = http.GetResult();
        return result;
    }
    QString port() const { return QString::number(m_runner.port()); }

    static TestSupport::KeyPair *s_ca;
    static TestSupport::KeyPair *s_server;
    QTemporaryDir m_dir;
    QString m_caFile;
    std::string m_hostHeader;
    std::unique_ptr<httplib::SSLServer> m_server;
    ServerRunner<httplib::SSLServer> m_runner;
};

TestSupport::KeyPair *ConnectToTest::s_ca = nullptr;
TestSupport::KeyPair *ConnectToTest::s_server = nullptr;

TEST_F(ConnectToTest, MappedNameReachesTheMappedPortWithItsCertificateChecked)
{
    QString body;
    ASSERT_EQ(get(QStringLiteral("upgrade.norvane.test:443:127.0.0.1:%P"),
                  QStringLiteral("https://upgrade.norvane.test/secure"), &body),
              HTTP_ERROR_OK);
    EXPECT_EQ(body, QStringLiteral("secret"));
    // The server still hears the name that was asked for.
    EXPECT_EQ(m_hostHeader, kHost);

    // Mapping another name to the same server: its certificate does not name that one.
    EXPECT_EQ(get(QStringLiteral("localhost:443:127.0.0.1:%P"),
                  QStringLiteral("https://localhost/secure")),
              HTTP_ERROR_TLS);
    // The right name without the CA that signed it.
    CHttp::SetExtraCaFile(m_dir.filePath(QStringLiteral("absent.pem")));
    EXPECT_EQ(get(QStringLiteral("upgrade.norvane.test:443:127.0.0.1:%P"),
                  QStringLiteral("https://upgrade.norvane.test/secure")),
              HTTP_ERROR_TLS);
}

TEST_F(ConnectToTest, SeveralEntriesMapEachTheirOwnHostAndPort)
{
    // Both separators, spaces, an empty entry and a bracketed IPv6 target are all accepted.
    const QString map = QStringLiteral(" other.test:443:[::1]:1 ; upgrade.norvane.test:8443:"
                                       "127.0.0.1:%P,,upgrade.norvane.test:443:127.0.0.1:1 ;");
    QString body;
    EXPECT_EQ(get(map, QStringLiteral("https://upgrade.norvane.test:8443/secure"), &body),
              HTTP_ERROR_OK);
    EXPECT_EQ(body, QStringLiteral("secret"));
    // The same name on the default port goes where its own entry says: nothing listens there.
    EXPECT_EQ(get(map, QStringLiteral("https://upgrade.norvane.test/secure")), HTTP_ERROR_CONNECT);
}

class MalformedConnectToTest : public ConnectToTest,
                               public ::testing::WithParamInterface<const char *>
{};

TEST_P(MalformedConnectToTest, FailsTheRequestWithAWarningThatNamesTheEntry)
{
    const QString bad = QString::fromUtf8(GetParam()).replace("%P", port());
    TestSupport::MessageCapture capture;
    CHttp http;
    http.InitData();
    // A sound entry beside it would reach the server: the bad one must not be skipped.
    qputenv("HESTAL_CONNECT_TO",
            ("upgrade.norvane.test:443:127.0.0.1:" + port() + ";" + bad).toUtf8());
    EXPECT_EQ(http.GetInfo(QStringLiteral("https://upgrade.norvane.test/secure"), {}),
              HTTP_ERROR_BAD_PARAM);
    EXPECT_TRUE(m_hostHeader.empty());
    const QString expected = QStringLiteral("HESTAL_CONNECT_TO: malformed entry \"%1\"").arg(bad);
    EXPECT_TRUE(http.GetErrorText().startsWith(expected)) << http.GetErrorText().toStdString();
    const QStringList warnings = capture.warnings();
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_EQ(warnings.first(), http.GetErrorText());
}

INSTANTIATE_TEST_SUITE_P(Entries, MalformedConnectToTest,
                         ::testing::Values("upgrade.norvane.test:443:127.0.0.1",
                                           "upgrade.norvane.test:443:127.0.0.1:%P:80",
                                           "upgrade.norvane.test:https:127.0.0.1:%P",
                                           "upgrade.norvane.test:443:127.0.0.1:0",
                                           "upgrade.norvane.test:443:127.0.0.1:65536",
                                           ":443:127.0.0.1:%P", "upgrade.norvane.test:443::%P",
                                           "upgrade.norvane.test:443:::1:%P",
                                           "upgrade norvane.test:443:127.0.0.1:%P",
                                           "upgrade.norvane.test:443:[::1:%P"));

} // namespace
