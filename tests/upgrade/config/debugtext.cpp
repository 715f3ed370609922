// SPDX-License-Identifier: MIT
#include "debugtext.h"

#include <QStringList>

Part quoted(const QString &value)
{
    QString text = value;
    text.replace('\\', "\\\\").replace('"', "\\\"");
    Part part("");
    part.text = '"' + text + '"';
    return part;
}

QString message(std::initializer_list<Part> parts)
{
    QStringList texts;
    for (const Part &part : parts)
        texts.append(part.text);
    return texts.join(' ');
}
