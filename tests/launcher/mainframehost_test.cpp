// SPDX-License-Identifier: MIT
#include "mainframehost.h"
#include "messagecapture.h"
#include "outsidefiles.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPluginLoader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using LauncherTest::copyFile;
using LauncherTest::readFile;
using LauncherTest::writeFile;
using TestSupport::MessageCapture;

// The stand-in plug-in reads its script from, and records its runs into, a folder of the test.
class MainFrameHost : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        solutions = m_tmp.path() + "/Solutions/";
        pluginPath = solutions + OutsideFiles::kMainFramePlugin;
        qputenv("HESTAL_SOLUTIONS_DIR", solutions.toLocal8Bit());
        qputenv("NORVANE_STANDIN_DIR", m_tmp.path().toLocal8Bit());
    }
    void TearDown() override
    {
        loader.unload();
        qunsetenv("HESTAL_SOLUTIONS_DIR");
        qunsetenv("NORVANE_STANDIN_DIR");
    }

    void stagePlugin(const char *builtPlugin)
    {
        ASSERT_TRUE(copyFile(QString::fromLocal8Bit(builtPlugin), pluginPath));
    }
    void script(const QByteArray &results)
    {
        ASSERT_TRUE(writeFile(m_tmp.path() + "/mainframe-script.txt", results));
    }
    QStringList runTexts() const
    {
        QStringList texts;
        const QList<QByteArray> lines
            = readFile(m_tmp.path() + "/mainframe-record.jsonl").split('\n');
        for (const QByteArray &line : lines) {
            if (!line.isEmpty())
                texts << QJsonDocument::fromJson(line).object().value("text").toString();
        }
        return texts;
    }

    QTemporaryDir m_tmp;
    QString solutions;
    QString pluginPath;
    QPluginLoader loader;
};

TEST_F(MainFrameHost, RunsWithTheApplicationNameAndPassesTheResultOn)
{
    stagePlugin(NORVANE_STANDIN_MAINFRAME);
    script("7\n-5\n");
    MessageCapture capture;

    EXPECT_EQ(loadMainFramePlugin(&loader, std::string()), 7);
    ASSERT_TRUE(loader.unload());
    EXPECT_EQ(loadMainFramePlugin(&loader, "crash"), -5);

    EXPECT_EQ(runTexts(), (QStringList{"Norvane", "Norvane crash"}));
    EXPECT_EQ(QDir::cleanPath(loader.fileName()), QDir::cleanPath(pluginPath));
    // Only the plug-in's own messages, which carry their source location; the host said nothing.
    for (const TestSupport::CapturedMessage &message : capture.messages())
        EXPECT_TRUE(message.hasLocation) << message.text.toStdString();
}

TEST_F(MainFrameHost, NoLoaderGivesMinusOne)
{
    stagePlugin(NORVANE_STANDIN_MAINFRAME);
    EXPECT_EQ(loadMainFramePlugin(nullptr, std::string()), -1);
    EXPECT_TRUE(runTexts().isEmpty());
}

TEST_F(MainFrameHost, MissingPluginIsReportedWithTheLoaderError)
{
    MessageCapture capture;

    EXPECT_EQ(loadMainFramePlugin(&loader, "crash"), -1);

    const QString expected
        = "load plugin  \"" + pluginPath + "\"  failed!, error= \"" + loader.errorString() + "\"";
    EXPECT_EQ(capture.texts(), QStringList{expected});
    EXPECT_FALSE(loader.errorString().isEmpty());
    // Nothing but the launcher's own warning, and without a source location, which the launcher's
    // message filter drops.
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.messages()[0].type, QtWarningMsg);
    EXPECT_FALSE(capture.messages()[0].hasLocation);
}

TEST_F(MainFrameHost, RootComponentWithoutTheInterfaceIsNotRun)
{
    stagePlugin(NORVANE_STANDIN_NOINTERFACE);
    MessageCapture capture;

    EXPECT_EQ(loadMainFramePlugin(&loader, std::string()), -1);

    EXPECT_EQ(capture.texts(), QStringList{"qobject_cast plugin  \"" + pluginPath + "\"  failed!"});
    EXPECT_FALSE(capture.messages()[0].hasLocation);
    EXPECT_TRUE(loader.isLoaded());
}

TEST_F(MainFrameHost, SolutionsPathWithoutSeparatorIsGluedToTheFileName)
{
    stagePlugin(NORVANE_STANDIN_MAINFRAME);
    const QString withoutSeparator = m_tmp.path() + "/Solutions";
    qputenv("HESTAL_SOLUTIONS_DIR", withoutSeparator.toLocal8Bit());
    MessageCapture capture;

    EXPECT_EQ(loadMainFramePlugin(&loader, std::string()), -1);

    const QString glued = withoutSeparator + OutsideFiles::kMainFramePlugin;
    ASSERT_EQ(capture.texts().size(), 1);
    EXPECT_TRUE(capture.texts()[0].startsWith("load plugin  \"" + glued + "\"  failed!, error= "))
        << capture.texts()[0].toStdString();
    EXPECT_TRUE(runTexts().isEmpty());
}

TEST_F(MainFrameHost, RelativeSolutionsPathIsResolvedAgainstTheWorkingDirectory)
{
    stagePlugin(NORVANE_STANDIN_MAINFRAME);
    script("4\n");
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_tmp.path()));
    qputenv("HESTAL_SOLUTIONS_DIR", "Solutions/");

    const int result = loadMainFramePlugin(&loader, std::string());
    QDir::setCurrent(previous);

    EXPECT_EQ(result, 4);
    EXPECT_EQ(runTexts(), QStringList{"Norvane"});
}

} // namespace
