// SPDX-License-Identifier: MIT
#include <QDomDocument>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>
#include <QTextStream>
#include <quistal/quistal.h>

namespace ZorGUI {

namespace {

QMutex g_appNameLock;
QString g_appName;

constexpr int kIndent = 4;

bool isNameStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_') || c == QLatin1Char(':') || c.unicode() >= 0x80;
}

bool isNameChar(QChar c)
{
    return isNameStart(c) || c.isDigit() || c == QLatin1Char('-') || c == QLatin1Char('.');
}

// QDom accepts any name and writes it out unchecked, which would leave a file nobody can read.
bool isXmlName(const QString &name)
{
    if (name.isEmpty() || !isNameStart(name.at(0)))
        return false;
    for (QChar c : name) {
        if (!isNameChar(c))
            return false;
    }
    return true;
}

// Characters XML 1.0 cannot carry, even escaped; QDom would write them anyway.
bool isXmlText(const QString &text)
{
    const int n = text.size();
    for (int i = 0; i < n; ++i) {
        const ushort u = text.at(i).unicode();
        if (u < 0x20 && u != 0x9 && u != 0xA && u != 0xD)
            return false;
        if (u == 0xFFFE || u == 0xFFFF)
            return false;
        if (QChar::isHighSurrogate(u)) {
            if (i + 1 >= n || !QChar::isLowSurrogate(text.at(i + 1).unicode()))
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(u)) {
            return false;
        }
    }
    return true;
}

} // namespace

void SetAppName(QString name)
{
    QMutexLocker lock(&g_appNameLock);
    g_appName = std::move(name);
}

QString AppName()
{
    QMutexLocker lock(&g_appNameLock);
    return g_appName;
}

struct ZorDomNodeResolve::Private
{
    // Both are handles onto shared data, so copying them shares the document.
    QDomDocument doc;
    QDomNode node;

    QDomElement element() const { return node.toElement(); }
};

ZorDomNodeResolve::ZorDomNodeResolve()
    : d(new Private)
{}

ZorDomNodeResolve::~ZorDomNodeResolve() = default;

ZorDomNodeResolve::ZorDomNodeResolve(const ZorDomNodeResolve &other)
    : d(new Private(*other.d))
{}

ZorDomNodeResolve &ZorDomNodeResolve::operator=(const ZorDomNodeResolve &other)
{
    if (this != &other)
        *d = *other.d;
    return *this;
}

bool ZorDomNodeResolve::LoadXML(const QString &path)
{
    if (path.isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QDomDocument doc;
    if (!doc.setContent(&file))
        return false;
    const QDomElement root = doc.documentElement();
    if (root.isNull())
        return false;
    d->doc = doc;
    d->node = root;
    return true;
}

bool ZorDomNodeResolve::CreateRootNode(const QString &name)
{
    if (!isXmlName(name))
        return false;
    QDomDocument doc;
    doc.appendChild(doc.createProcessingInstruction(
        QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    QDomElement root = doc.createElement(name);
    doc.appendChild(root);
    d->doc = doc;
    d->node = root;
    return true;
}

ZorDomNodeResolve ZorDomNodeResolve::CreateChildNode(const QString &name)
{
    ZorDomNodeResolve child;
    QDomElement parent = d->element();
    if (parent.isNull() || !isXmlName(name))
        return child;
    QDomElement element = d->doc.createElement(name);
    if (parent.appendChild(element).isNull())
        return child;
    child.d->doc = d->doc;
    child.d->node = element;
    return child;
}

ZorDomNodeResolve ZorDomNodeResolve::FindChildByNodeName(const QString &name) const
{
    ZorDomNodeResolve child;
    const QDomElement parent = d->element();
    if (parent.isNull() || name.isEmpty())
        return child;
    const QDomElement found = parent.firstChildElement(name);
    if (found.isNull())
        return child;
    child.d->doc = d->doc;
    child.d->node = found;
    return child;
}

int ZorDomNodeResolve::GetChildNodeCount() const
{
    const QDomElement element = d->element();
    return element.isNull() ? 0 : element.childNodes().count();
}

ZorDomNodeResolve ZorDomNodeResolve::GetChild(int index) const
{
    ZorDomNodeResolve child;
    const QDomElement element = d->element();
    if (element.isNull())
        return child;
    const QDomNodeList children = element.childNodes();
    if (index < 0 || index >= children.count())
        return child;
    child.d->doc = d->doc;
    child.d->node = children.item(index);
    return child;
}

QString ZorDomNodeResolve::GetNodeName() const
{
    return d->element().tagName();
}

QString ZorDomNodeResolve::GetNodeValue() const
{
    return d->element().text();
}

QString ZorDomNodeResolve::GetAttribute(const QString &name, const QString &defaultValue) const
{
    const QDomElement element = d->element();
    if (element.isNull() || !element.hasAttribute(name))
        return defaultValue;
    return element.attribute(name);
}

bool ZorDomNodeResolve::SetNodeValue(const QString &value)
{
    QDomElement element = d->element();
    if (element.isNull() || !isXmlText(value))
        return false;
    while (!element.firstChild().isNull())
        element.removeChild(element.firstChild());
    if (!value.isEmpty())
        element.appendChild(d->doc.createTextNode(value));
    return true;
}

bool ZorDomNodeResolve::SetAttribute(const QString &name, const QString &value)
{
    QDomElement element = d->element();
    if (element.isNull() || !isXmlName(name) || !isXmlText(value))
        return false;
    element.setAttribute(name, value);
    return true;
}

bool ZorDomNodeResolve::SaveXML(const QString &path)
{
    if (d->doc.isNull() || d->doc.documentElement().isNull() || path.isEmpty())
        return false;
    // Written aside and moved into place, so a failed save leaves the old file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    d->doc.save(stream, kIndent);
    stream.flush();
    if (stream.status() != QTextStream::Ok)
        return false;
    return file.commit();
}

} // namespace ZorGUI
