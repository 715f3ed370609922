// SPDX-License-Identifier: MIT
#pragma once

#include <QtPlugin>

#include <string>

class QWidget;

// The main frame interface that the client's main frame plug-in offers in its root component.
// The order of the operations is fixed: the launcher calls the second one, Run.
class IWidget
{
public:
    // The plug-in's main window; the launcher does not use it.
    virtual QWidget *MainWidget() = 0;
    // Runs the client's user interface until it is closed. text is valid only for the call.
    // The result tells the launcher what to do next: 1 restart, 2 upgrade, 3 run again.
    virtual int Run(const std::string &text) = 0;

protected:
    // The loader owns the root component; nobody deletes it through this interface.
    ~IWidget() = default;
};

#define IWidget_iid "com.ZorPluginAPI.IWidget(1.0)"
Q_DECLARE_INTERFACE(IWidget, IWidget_iid)
