#pragma once

#include <QDomDocument>
#include <QString>
#include <QStringList>

// Every lookup of elements by tag goes through ElementQuery: depth first,
// document order, the root itself included, never beyond the root's subtree.
class ElementQuery
{
public:
    ElementQuery() = default;
    ElementQuery(const QDomElement &root, const QString &tag);

    int count() const;
    QDomElement item(int n) const;
    // Every matching element in document order: item(0) ... item(count() - 1) in one walk.
    QList<QDomElement> elements() const;
    QStringList texts() const;
    // Values of attribute name on every element of the subtree, whatever its tag.
    QStringList attributeValues(const QString &name) const;

private:
    template<typename F> bool walk(F &&visit) const;

    QDomElement m_root;
    QString m_tag;
};

ElementQuery queryUnder(const QDomNode &node, const QString &tag);
ElementQuery queryWithin(const QDomElement &element, const QString &tag);

// Text read as the files' numbers: a decimal integer or a finite real; 0 when it does not parse.
int readInt(const QString &text);
double readReal(const QString &text);

QString attributeText(const QDomElement &element, const QString &name);
int attributeInt(const QDomElement &element, const QString &name);
double attributeReal(const QDomElement &element, const QString &name);

// Reals in the system's files: general notation, at most 6 significant digits.
QString realText(double value);

// An XML document with the file it belongs to. Copies share the document.
class XmlFile
{
public:
    XmlFile() = default;
    explicit XmlFile(const QString &path) : path(path) {}

    // True when the file could be read; a malformed file still gives true
    // with an empty or partial document. Only a regular file is read: a FIFO
    // or a device at the path gives false at once, the document unchanged.
    bool load(const QString &filePath);
    // Atomic: a failed write leaves the previous file in place. False on failure.
    bool save(int indent) const;

    QDomDocument document;
    QString path;

    // What the last load found.
    enum class Outcome {
        Whole,       // read and parsed to its end
        Malformed,   // read, but the XML stops being well-formed at errorLine
        Empty,       // read, nothing but white space in it
        Missing,     // no file at the path
        Unreadable,  // not a regular file, or reading it failed
    };
    Outcome outcome = Outcome::Missing;
    // Why a load fell short of Whole (empty when it did not), with the line
    // and column the parser stopped at (0 when it has none).
    QString error;
    int errorLine = 0;
    int errorColumn = 0;
};

// Writes the document atomically in the encoding of its declaration.
bool saveDocument(const QDomDocument &document, const QString &path, int indent);
// A new document holding only the declaration version 1.0, UTF-8.
QDomDocument newDocument();
