// SPDX-License-Identifier: MIT
#include "qstringprint.h"

#include <hestal/hestal.h>

#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Sets or unsets an environment variable for the scope.
class EnvGuard
{
public:
    EnvGuard(const char *name, const char *value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

class CwdGuard
{
public:
    explicit CwdGuard(const QString &dir)
        : m_old(QDir::currentPath())
    {
        QDir::setCurrent(dir);
    }
    ~CwdGuard() { QDir::setCurrent(m_old); }

private:
    QString m_old;
};

QString readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

TEST(SolutionsDirTest, DefaultIsRelativeWithTrailingSeparatorAndEnvironmentWins)
{
    {
        EnvGuard env("HESTAL_SOLUTIONS_DIR", nullptr);
        EXPECT_EQ(QGetSolutionsDirPath(), QStringLiteral("Solutions/"));
    }
    {
        EnvGuard env("HESTAL_SOLUTIONS_DIR", "Plugins/no-separator");
        EXPECT_EQ(QGetSolutionsDirPath(), QStringLiteral("Plugins/no-separator"));
    }
}

TEST(DebugLogTest, StartAndStopLinesGoToTheNamedFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("deep/er/debug.log"));
    EnvGuard env("HESTAL_DEBUGLOG", path.toUtf8().constData());

    CDebugLog *log = CDebugLog::Instance();
    ASSERT_EQ(log, CDebugLog::Instance());
    EXPECT_EQ(log->UnInit(), -1) << "not started yet";
    EXPECT_FALSE(log->Write(QStringLiteral("lost")));

    ASSERT_EQ(log->Init(), 0);
    EXPECT_EQ(log->Init(), 0) << "a second Init keeps the log running";
    EXPECT_EQ(log->FilePath(), path);
    EXPECT_TRUE(log->Write(QStringLiteral("middle line")));
    EXPECT_TRUE(log->Write(QStringLiteral("first part\nsecond part")));
    EXPECT_EQ(log->UnInit(), 0);
    EXPECT_TRUE(log->FilePath().isEmpty());

    const QStringList lines = readAll(path).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("debug log started")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("] middle line")));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("] first part")));
    EXPECT_TRUE(lines[3].endsWith(QStringLiteral("] second part")));
    EXPECT_TRUE(lines[4].contains(QStringLiteral("debug log stopped")));
    // Each line starts with a date and time.
    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}"));
    for (const QString &line : lines)
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
    EXPECT_FALSE(readAll(path).contains(QStringLiteral("lost")));

    // A restart appends.
    ASSERT_EQ(log->Init(), 0);
    ASSERT_EQ(log->UnInit(), 0);
    EXPECT_EQ(readAll(path).count(QStringLiteral("debug log started")), 2);
}

TEST(DebugLogTest, DefaultPathIsUnderTheWorkingDirectory)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EnvGuard env("HESTAL_DEBUGLOG", nullptr);
    CwdGuard cwd(dir.path());

    CDebugLog *log = CDebugLog::Instance();
    ASSERT_EQ(log->Init(), 0);
    ASSERT_EQ(log->UnInit(), 0);
    EXPECT_TRUE(readAll(dir.filePath(QStringLiteral("Log/debug.log")))
                    .contains(QStringLiteral("debug log stopped")));
}

TEST(DebugLogTest, UnwritablePathFailsQuietly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString blocker = dir.filePath(QStringLiteral("plain-file"));
    {
        QFile file(blocker);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    // A folder cannot be made where a file already is, not even by root.
    EnvGuard env("HESTAL_DEBUGLOG", (blocker + QStringLiteral("/debug.log")).toUtf8().constData());
    CDebugLog *log = CDebugLog::Instance();
    EXPECT_EQ(log->Init(), -1);
    EXPECT_FALSE(log->Write(QStringLiteral("nowhere")));
    EXPECT_EQ(log->UnInit(), -1);
}

class SuitableTextTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (m_metrics.horizontalAdvance(QStringLiteral("W")) <= 0)
            GTEST_SKIP() << "no font with real glyph widths is installed";
    }
    QFontMetrics m_metrics{QGuiApplication::font()};
};

TEST_F(SuitableTextTest, TextThatFitsComesBackExactly)
{
    const QStringList texts{QStringLiteral("C:\\Program Files\\Client\\record.mp4"),
                            QStringLiteral("  padded  "),
                            QStringLiteral("\xe6\x97\xa5\xe6\x9c\xac"), QString()};
    for (const QString &text : texts) {
        QString result;
        QCommon::GetSuitableText(m_metrics, m_metrics.horizontalAdvance(text), text, result);
        EXPECT_EQ(result, text);
        QCommon::GetSuitableText(m_metrics, 10000, text, result);
        EXPECT_EQ(result, text);
    }
}

TEST_F(SuitableTextTest, TooLongTextIsShortenedToFit)
{
    const QString text = QStringLiteral("a rather long line of text that will not fit in the box");
    const int full = m_metrics.horizontalAdvance(text);
    for (int width : {full - 1, full / 2, 0, -5}) {
        QString result;
        QCommon::GetSuitableText(m_metrics, width, text, result);
        EXPECT_NE(result, text) << width;
        EXPECT_LT(result.size(), text.size()) << width;
        EXPECT_LE(m_metrics.horizontalAdvance(result), qMax(width, 0)) << width;
    }
}

} // namespace
