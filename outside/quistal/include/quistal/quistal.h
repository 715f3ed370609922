// SPDX-License-Identifier: MIT
// UI components: the application name and the XML node helper.
#pragma once

#include "quistal_global.h"

#include <QString>

#include <memory>

namespace ZorGUI {

QUISTAL_EXPORT void SetAppName(QString name);
// The name last given to SetAppName, empty before.
QUISTAL_EXPORT QString AppName();

// Stands for one node of one XML document, or for nothing (a default-constructed helper).
// Copies refer to the same document, so a change made through one is seen through all.
// Only element nodes have a name; a helper for a text or comment child reports an empty name
// and refuses changes. Every operation on an empty helper fails quietly.
class QUISTAL_EXPORT ZorDomNodeResolve
{
public:
    ZorDomNodeResolve();
    ~ZorDomNodeResolve();
    ZorDomNodeResolve(const ZorDomNodeResolve &other);
    ZorDomNodeResolve &operator=(const ZorDomNodeResolve &other);

    // Reads a document from a file path or a ":/" resource; the helper then stands for the
    // root element. On failure the helper is left as it was.
    bool LoadXML(const QString &path);
    // Starts a new document (with an XML declaration) whose root element is name.
    bool CreateRootNode(const QString &name);
    // Appends a child element; an empty helper on failure.
    ZorDomNodeResolve CreateChildNode(const QString &name);

    // First direct child element of that name; a helper with an empty name when there is none.
    ZorDomNodeResolve FindChildByNodeName(const QString &name) const;
    // All direct children (elements, text, comments) in document order.
    int GetChildNodeCount() const;
    ZorDomNodeResolve GetChild(int index) const;

    // Tag name of the element; empty for no element.
    QString GetNodeName() const;
    // The element's text; empty for no element.
    QString GetNodeValue() const;
    QString GetAttribute(const QString &name, const QString &defaultValue) const;
    // Replaces the element's children with one text node.
    bool SetNodeValue(const QString &value);
    bool SetAttribute(const QString &name, const QString &value);

    // Writes the whole document as UTF-8, indented by 4 spaces per level, with an XML
    // declaration when the document has one. The file is replaced only when writing succeeded.
    bool SaveXML(const QString &path);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace ZorGUI
