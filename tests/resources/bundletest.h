// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// Shared helpers of the bundle tests: the bundle's paths, raw access to its files and a reader
// that keeps what the tests look at (document order, attribute order, comments, stray text).
namespace BundleTest {

QStringList editions();
QStringList pluginListNames();
QStringList dictionaryNames();
// Every resource path the bundle holds.
QStringList expectedPaths();

// What the check before QCoreApplication saw.
struct EarlyCheck
{
    bool ran = false;
    bool applicationExisted = false;
    QStringList unreadable;
    QStringList listed;
};
const EarlyCheck &earlyCheck();
void runEarlyCheck();

// Bytes of a resource path, empty when it does not open.
QByteArray resourceBytes(const QString &path);
// Bytes of a file of the source tree below resources/.
QByteArray sourceBytes(const QString &relativePath);

struct Element
{
    QString name;
    QVector<QPair<QString, QString>> attributes; // in document order
    int parent = -1;                             // index into ParsedXml::elements, -1 for the root
    bool hasAttribute(const QString &key) const;
    QString attribute(const QString &key) const;
    QStringList attributeNames() const;
};

struct ParsedXml
{
    bool ok = false;
    QString error;
    QVector<Element> elements; // document order
    QStringList comments;
    bool onlyWhitespaceText = true;

    QString path(int index) const; // "Root/Child/..." of an element
    QVector<int> find(const QString &path) const;
    QStringList rootChildNames() const; // names of the root's child elements, in order
};
ParsedXml parseXml(const QByteArray &bytes);
ParsedXml parseXml(const QString &text);

QList<QByteArray> lines(const QByteArray &bytes);
bool isValidUtf8(const QByteArray &bytes);
// Leading white space of every line is tabs only.
bool indentedWithTabs(const QByteArray &bytes);

} // namespace BundleTest
