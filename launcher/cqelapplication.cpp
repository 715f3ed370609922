// SPDX-License-Identifier: MIT
#include "cqelapplication.h"

#include <hestal/hestal.h>

#include <QEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QLineEdit>
#include <QToolTip>
#include <QVariant>
#include <QWidget>

namespace {

// A property counts as null when it is missing or holds a null string; an empty string is set.
bool isNullProperty(const QObject *object, const char *name)
{
    const QVariant value = object->property(name);
    return !value.isValid() || value.toString().isNull();
}

bool textFits(const QWidget *widget, const QString &text)
{
    QString fitting;
    QCommon::GetSuitableText(widget->fontMetrics(), widget->width(), text, fitting);
    return fitting == text;
}

} // namespace

CQelApplication::CQelApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{}

bool CQelApplication::notify(QObject *receiver, QEvent *event)
{
    if (!receiver || !event)
        return false;
    // The client keeps its own fonts; an application-wide font change must not reach them.
    if (event->type() == QEvent::ApplicationFontChange)
        return true;
    if (event->type() != QEvent::ToolTip)
        return QApplication::notify(receiver, event);

    // A tool-tip request that is not a help event carries no position; leave it to Qt.
    auto *help = dynamic_cast<QHelpEvent *>(event);
    if (!help)
        return QApplication::notify(receiver, event);

    if (!isNullProperty(receiver, "toolTip") || !isNullProperty(receiver, "MyToolTip")) {
        QString tip = receiver->property("toolTip").toString();
        if (tip.isEmpty())
            tip = receiver->property("MyToolTip").toString();
        // An empty tip hides the one that is showing.
        QToolTip::showText(help->globalPos(), tip);
        return true;
    }

    auto *widget = qobject_cast<QWidget *>(receiver);
    if (!widget)
        return QApplication::notify(receiver, event);

    if (auto *lineEdit = qobject_cast<QLineEdit *>(widget)) {
        // A password never shows up in a tip, and its request goes no further.
        if (lineEdit->echoMode() == QLineEdit::Password)
            return false;
        const QString text = lineEdit->property("text").toString();
        if (!textFits(widget, text))
            QToolTip::showText(help->globalPos(), text);
        return true;
    }
    if (!isNullProperty(widget, "text")) {
        // Labels show their text only when it is shown whole.
        const QString text = widget->property("text").toString();
        if (textFits(widget, text))
            QToolTip::showText(help->globalPos(), text);
        return true;
    }
    if (!isNullProperty(widget, "currentText")) {
        const QString text = widget->property("currentText").toString();
        if (!textFits(widget, text))
            QToolTip::showText(help->globalPos(), text);
        return true;
    }
    return QApplication::notify(receiver, event);
}
