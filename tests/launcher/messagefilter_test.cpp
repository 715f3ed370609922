// SPDX-License-Identifier: MIT
#include "messagecapture.h"
#include "messagefilter.h"
#include "testsupport.h"

#include <QDebug>
#include <QMessageLogger>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <qrl/qrl.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using LauncherTest::readFile;
using TestSupport::CapturedMessage;
using TestSupport::MessageCapture;

// Points the print log at a file of the test and puts a recording handler behind the filter.
class MessageFilterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        m_logPath = m_tmp.path() + "/print.log";
        m_previousLog = qrl::DPrintLog::instance()->FilePath();
        qrl::DPrintLog::instance()->SetFilePath(m_logPath.toStdString());
        m_previousHandler = previousMessageHandler.exchange(&MessageCapture::handler);
        MessageCapture::clear();
    }
    void TearDown() override
    {
        previousMessageHandler.store(m_previousHandler);
        qrl::DPrintLog::instance()->SetFilePath(m_previousLog);
    }

    // The print log's entries without their timestamps; an entry's text may span lines.
    QStringList entries() const
    {
        static const QRegularExpression entryStart(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ",
            QRegularExpression::MultilineOption);
        const QString log = QString::fromUtf8(readFile(m_logPath));
        QStringList result;
        QRegularExpressionMatchIterator it = entryStart.globalMatch(log);
        QVector<QPair<int, int>> starts;
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            starts << qMakePair(match.capturedStart(), match.capturedEnd());
        }
        for (int i = 0; i < starts.size(); ++i) {
            const int end = i + 1 < starts.size() ? starts[i + 1].first : log.size();
            QString entry = log.mid(starts[i].second, end - starts[i].second);
            if (entry.endsWith('\n'))
                entry.chop(1);
            result << entry;
        }
        return result;
    }

    QTemporaryDir m_tmp;
    QString m_logPath;
    std::string m_previousLog;
    QtMessageHandler m_previousHandler = nullptr;
};

struct FilterCase
{
    const char *name;
    QtMsgType type;
    const char *file;
    const char *function;
    const char *message;
    // The print log entry after its timestamp; null when nothing is written.
    const char *entry;
    bool passedOn;
};

void PrintTo(const FilterCase &c, std::ostream *os)
{
    *os << c.name;
}

class MessageFilterCases : public MessageFilterTest,
                           public ::testing::WithParamInterface<FilterCase>
{};

TEST_P(MessageFilterCases, WritesAndPassesOn)
{
    const FilterCase &c = GetParam();
    const QMessageLogContext context(c.file, 42, c.function, "default");

    messageFilter(c.type, context, QString::fromUtf8(c.message));

    if (c.entry)
        EXPECT_EQ(entries(), QStringList{QString::fromUtf8(c.entry)});
    else
        EXPECT_TRUE(entries().isEmpty()) << entries().join('\n').toStdString();

    const std::vector<CapturedMessage> passed = MessageCapture::recorded();
    if (c.passedOn) {
        ASSERT_EQ(passed.size(), 1u);
        EXPECT_EQ(passed[0].type, c.type);
        EXPECT_EQ(passed[0].text, QString::fromUtf8(c.message));
        EXPECT_TRUE(passed[0].hasLocation);
    } else {
        EXPECT_TRUE(passed.empty());
    }
}

const FilterCase kFilterCases[] = {
    {"Warning", QtWarningMsg, "src/engine.cpp", "void run()", "hello",
     "[5] src/engine.cpp:42 void run(): hello", true},
    {"Information", QtInfoMsg, "src/engine.cpp", "void run()", "fyi",
     "[4] src/engine.cpp:42 void run(): fyi", true},
    {"Critical", QtCriticalMsg, "src/engine.cpp", "void run()", "bad",
     "[6] src/engine.cpp:42 void run(): bad", true},
    {"Fatal", QtFatalMsg, "src/engine.cpp", "void run()", "worse",
     "[6] src/engine.cpp:42 void run(): worse", true},
    {"DebugIsPassedOnOnly", QtDebugMsg, "src/engine.cpp", "void run()", "detail", nullptr, true},
    {"FormatDirectivesVerbatim", QtWarningMsg, "a.cpp", "f", "%s %n %% %d %.99999f",
     "[5] a.cpp:42 f: %s %n %% %d %.99999f", true},
    {"LineBreaksKept", QtWarningMsg, "a.cpp", "f", "first\nsecond", "[5] a.cpp:42 f: first\nsecond",
     true},
    {"Utf8Text", QtWarningMsg, "a.cpp", "f", "Kamera \xc3\xbc\xe2\x82\xac",
     "[5] a.cpp:42 f: Kamera \xc3\xbc\xe2\x82\xac", true},
    {"NoFile", QtWarningMsg, nullptr, "f", "x", nullptr, false},
    {"NoFunction", QtWarningMsg, "a.cpp", nullptr, "x", nullptr, false},
    {"EmptyFileName", QtCriticalMsg, "", "f", "x", nullptr, false},
    {"NoLocationDebug", QtDebugMsg, nullptr, nullptr, "x", nullptr, false},
    // The framework's noisy sources, in any letter case and anywhere in the path.
    {"QObject", QtWarningMsg, "kernel/qobject.cpp", "f", "x", nullptr, false},
    {"QStyleSheetStyle", QtWarningMsg, "styles/QStyleSheetStyle.cpp", "f", "x", nullptr, false},
    {"QWidgetMixedCase", QtWarningMsg, "C:\\Qt\\src\\QWidget.CPP", "f", "x", nullptr, false},
    {"QWindowsWindow", QtCriticalMsg, "QWINDOWSWINDOW.CPP", "f", "x", nullptr, false},
    {"QLayout", QtInfoMsg, "qLayout.cpp", "f", "x", nullptr, false},
    {"QPngHandler", QtWarningMsg, "image/qpnghandler.cpp", "f", "x", nullptr, false},
    {"QCssParser", QtDebugMsg, "text/QCssParser.cpp", "f", "x", nullptr, false},
    {"NameInsideALongerName", QtWarningMsg, "myqwidget.cpp.in", "f", "x", nullptr, false},
    {"HeaderOfTheSameNameIsKept", QtWarningMsg, "qwidget.h", "f", "x", "[5] qwidget.h:42 f: x",
     true},
};

INSTANTIATE_TEST_SUITE_P(MessageFilter, MessageFilterCases, ::testing::ValuesIn(kFilterCases),
                         [](const ::testing::TestParamInfo<FilterCase> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(MessageFilterTest, LongMessageIsWrittenWhole)
{
    const QString message = QString(70000, 'x') + "%s end";
    messageFilter(QtWarningMsg, QMessageLogContext("a.cpp", 1, "f", "default"), message);

    EXPECT_EQ(entries(), QStringList{"[5] a.cpp:1 f: " + message});
}

TEST_F(MessageFilterTest, NoPreviousHandlerStillWrites)
{
    previousMessageHandler.store(nullptr);
    messageFilter(QtWarningMsg, QMessageLogContext("a.cpp", 1, "f", "default"), "alone");

    EXPECT_EQ(entries(), QStringList{"[5] a.cpp:1 f: alone"});
    EXPECT_TRUE(MessageCapture::recorded().empty());
}

TEST_F(MessageFilterTest, InstalledFilterSeesQtMessagesFromAnyThread)
{
    previousMessageHandler.store(nullptr);
    {
        MessageCapture capture; // becomes the handler behind the filter
        installMessageFilter();
        EXPECT_EQ(previousMessageHandler.load(), &MessageCapture::handler);

        QMessageLogger("net/stream.cpp", 7, "void open()").warning() << "open" << 3 << "failed";
        QMessageLogger().warning() << "without a location";
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i) {
            threads.emplace_back(
                [i] { QMessageLogger("worker.cpp", i, "work").info("worker %d", i); });
        }
        for (std::thread &thread : threads)
            thread.join();

        qInstallMessageHandler(&MessageCapture::handler);
        EXPECT_EQ(capture.messages().size(), 5u);
    }

    const QStringList written = entries();
    ASSERT_EQ(written.size(), 5);
    EXPECT_EQ(written[0], "[5] net/stream.cpp:7 void open(): open 3 failed");
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(written.contains(QString("[4] worker.cpp:%1 work: worker %1").arg(i)));
}

} // namespace
