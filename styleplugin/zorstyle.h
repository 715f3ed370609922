// SPDX-License-Identifier: MIT
#pragma once

#include <QProxyStyle>
#include <QStylePlugin>

namespace ZORSTYLE {

// Only the meta-object records of these classes are carried by the library; nothing creates
// an object of either class, so neither adds behaviour to its base.
class ZorStyle : public QProxyStyle
{
    Q_OBJECT
};

// Left without a factory: create() stays pure, and there is no plug-in metadata.
class ZorStylePlugin : public QStylePlugin
{
    Q_OBJECT
};

} // namespace ZORSTYLE
