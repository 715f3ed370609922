// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <initializer_list>

// One part of a message as the debug stream writes it: literal text as it stands, Qt strings in
// double quotes.
struct Part
{
    Part(const char *literal)
        : text(QString::fromUtf8(literal))
    {}
    QString text;
};
Part quoted(const QString &value);

// The whole text of a message written part by part, one space between parts.
QString message(std::initializer_list<Part> parts);
