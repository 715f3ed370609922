// SPDX-License-Identifier: MIT
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QThread>
#include <QToolTip>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// Counts the events of one type that reach the object it watches, i.e. that were dispatched.
class EventCounter : public QObject
{
public:
    explicit EventCounter(QEvent::Type type)
        : m_type(type)
    {}
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == m_type)
            ++count;
        return false;
    }

private:
    QEvent::Type m_type;
};

const QString kLongText = QStringLiteral("a text far too long to fit into a few pixels of width");
const QString kSentinel = QStringLiteral("tip before the request");

// Waits, with a bound, until no tip is showing; hiding a tip runs on a short timer.
bool waitForTipHidden()
{
    for (int i = 0; i < 300 && QToolTip::isVisible(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return !QToolTip::isVisible();
}

struct ToolTipCase
{
    const char *name;
    std::function<QWidget *()> make;
    // What notify answers: 0 false, 1 true, -1 whatever Qt's own dispatch answers.
    int expectResult;
    bool expectDispatched;
    // The tip showing afterwards; null when the request must leave the earlier tip alone.
    QString expectTip;
};

void PrintTo(const ToolTipCase &c, std::ostream *os)
{
    *os << c.name;
}

QWidget *sized(QWidget *widget, int width)
{
    widget->resize(width, 30);
    return widget;
}

QLineEdit *lineEdit(const QString &text, int width, QLineEdit::EchoMode mode = QLineEdit::Normal)
{
    auto *edit = new QLineEdit(text);
    edit->setEchoMode(mode);
    sized(edit, width);
    return edit;
}

QComboBox *comboBox(const QString &text, int width)
{
    auto *combo = new QComboBox;
    combo->addItem(text);
    sized(combo, width);
    return combo;
}

class ToolTipRequest : public ::testing::TestWithParam<ToolTipCase>
{
protected:
    void SetUp() override
    {
        // A tip is already up, so that a request which shows nothing can be told apart.
        QToolTip::showText(QPoint(5, 5), kSentinel);
        ASSERT_TRUE(QToolTip::isVisible());
    }
    void TearDown() override
    {
        QToolTip::hideText();
        waitForTipHidden();
    }
};

TEST_P(ToolTipRequest, ShowsTheExpectedTip)
{
    const ToolTipCase &c = GetParam();
    std::unique_ptr<QWidget> widget(c.make());
    EventCounter counter(QEvent::ToolTip);
    widget->installEventFilter(&counter);

    QHelpEvent event(QEvent::ToolTip, QPoint(2, 2), QPoint(40, 40));
    const bool result = QCoreApplication::sendEvent(widget.get(), &event);

    if (c.expectResult >= 0) {
        EXPECT_EQ(result, c.expectResult == 1);
    }
    EXPECT_EQ(counter.count, c.expectDispatched ? 1 : 0);
    if (c.expectTip.isNull()) {
        EXPECT_TRUE(QToolTip::isVisible());
        EXPECT_EQ(QToolTip::text(), kSentinel);
    } else if (c.expectTip.isEmpty()) {
        EXPECT_TRUE(waitForTipHidden());
    } else {
        EXPECT_TRUE(QToolTip::isVisible());
        EXPECT_EQ(QToolTip::text(), c.expectTip);
    }
}

const ToolTipCase kToolTipCases[] = {
    {"ExplicitTipOnLabelWhoseTextFits",
     [] {
         auto *label = new QLabel("short");
         label->setToolTip("explicit tip");
         return sized(label, 4000);
     },
     1, false, "explicit tip"},
    {"ExplicitTipWinsOverPasswordMode",
     [] {
         auto *edit = lineEdit(kLongText, 10, QLineEdit::Password);
         edit->setToolTip("explicit tip");
         return edit;
     },
     1, false, "explicit tip"},
    {"OwnTipWhenToolTipIsEmpty",
     [] {
         auto *widget = new QWidget;
         widget->setToolTip(QLatin1String(""));
         widget->setProperty("MyToolTip", "own tip");
         return widget;
     },
     1, false, "own tip"},
    {"OwnTipAlone",
     [] {
         auto *widget = new QWidget;
         widget->setProperty("MyToolTip", "own tip");
         return widget;
     },
     1, false, "own tip"},
    {"EmptyTipHidesTheShowingOne",
     [] {
         auto *widget = new QWidget;
         widget->setToolTip(QLatin1String(""));
         return widget;
     },
     1, false, ""},
    {"PasswordLineEditShowsNothing", [] { return lineEdit(kLongText, 10, QLineEdit::Password); }, 0,
     false, QString()},
    {"LineEditWithCutText", [] { return lineEdit(kLongText, 10); }, 1, false, kLongText},
    {"LineEditWhoseTextFits", [] { return lineEdit("short", 4000); }, 1, false, QString()},
    {"LabelWhoseTextFits", [] { return sized(new QLabel("short"), 4000); }, 1, false, "short"},
    {"LabelWithCutText", [] { return sized(new QLabel(kLongText), 10); }, 1, false, QString()},
    {"ComboBoxWithCutText", [] { return comboBox(kLongText, 10); }, 1, false, kLongText},
    {"ComboBoxWhoseTextFits", [] { return comboBox("short", 4000); }, 1, false, QString()},
    // No tip, no text: Qt's own handling runs.
    {"PlainWidgetIsDispatched", [] { return new QWidget; }, -1, true, QString()},
    {"LabelWithoutTextIsDispatched", [] { return new QLabel; }, -1, true, QString()},
};

INSTANTIATE_TEST_SUITE_P(Notify, ToolTipRequest, ::testing::ValuesIn(kToolTipCases),
                         [](const ::testing::TestParamInfo<ToolTipCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(Notify, HoldsBackApplicationFontChanges)
{
    QWidget widget;
    EventCounter counter(QEvent::ApplicationFontChange);
    widget.installEventFilter(&counter);

    QEvent event(QEvent::ApplicationFontChange);
    EXPECT_TRUE(QCoreApplication::sendEvent(&widget, &event));

    // Qt's own font change sends the event to every widget; none may receive it.
    const QFont previous = QApplication::font();
    QFont bigger = previous;
    bigger.setPointSize(previous.pointSize() + 7);
    QApplication::setFont(bigger);
    QApplication::setFont(previous);

    EXPECT_EQ(counter.count, 0);
}

TEST(Notify, OtherEventsAreDispatched)
{
    QWidget widget;
    EventCounter counter(QEvent::User);
    widget.installEventFilter(&counter);

    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&widget, &event);

    EXPECT_EQ(counter.count, 1);
}

TEST(Notify, MissingReceiverOrEventIsRefused)
{
    QWidget widget;
    QEvent event(QEvent::User);
    EXPECT_FALSE(qApp->notify(nullptr, &event));
    EXPECT_FALSE(qApp->notify(&widget, nullptr));
}

} // namespace
