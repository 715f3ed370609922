// SPDX-License-Identifier: MIT
// A valid Qt plug-in whose root component does not offer the main frame interface.
#include <QObject>
#include <QtPlugin>

class NoInterfaceStandIn : public QObject
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.ZorPluginAPI.Other(1.0)")
};

#include "nointerface_standin.moc"
