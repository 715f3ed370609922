// SPDX-License-Identifier: MIT
#pragma once

#include <QApplication>

// The launcher's application object. Its event dispatch shows the full text of widgets whose
// text is cut as a tool tip, and keeps application font changes away from every object.
class CQelApplication : public QApplication
{
    Q_OBJECT

public:
    CQelApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};
