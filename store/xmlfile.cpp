#include "xmlfile.h"

#include "dirs.h"
#include "fileread.h"

#include <QRegularExpression>
#include <QStringEncoder>

#include <cmath>

ElementQuery::ElementQuery(const QDomElement &root, const QString &tag) : m_root(root), m_tag(tag)
{
}

// Pre-order walk of the root's subtree without recursion, so that a deeply
// nested hand-written file cannot exhaust the stack. visit returns true to stop.
template<typename F> bool ElementQuery::walk(F &&visit) const
{
    QDomElement e = m_root;
    while (!e.isNull()) {
        if (visit(e))
            return true;
        QDomElement next = e.firstChildElement();
        if (next.isNull()) {
            // Climb until a following sibling exists, never past the root.
            while (e != m_root && (next = e.nextSiblingElement()).isNull())
                e = e.parentNode().toElement();
            if (e == m_root)
                return false;
        }
        e = next;
    }
    return false;
}

int ElementQuery::count() const
{
    int n = 0;
    walk([&](const QDomElement &e) {
        if (e.tagName() == m_tag)
            ++n;
        return false;
    });
    return n;
}

QDomElement ElementQuery::item(int n) const
{
    QDomElement found;
    if (n < 0)
        return found;
    walk([&](const QDomElement &e) {
        if (e.tagName() != m_tag)
            return false;
        if (n-- > 0)
            return false;
        found = e;
        return true;
    });
    return found;
}

QList<QDomElement> ElementQuery::elements() const
{
    QList<QDomElement> result;
    walk([&](const QDomElement &e) {
        if (e.tagName() == m_tag)
            result.append(e);
        return false;
    });
    return result;
}

QStringList ElementQuery::texts() const
{
    QStringList result;
    for (const QDomElement &e : elements())
        result.append(e.text());
    return result;
}

QStringList ElementQuery::attributeValues(const QString &name) const
{
    QStringList result;
    walk([&](const QDomElement &e) {
        if (e.hasAttribute(name))
            result.append(e.attribute(name));
        return false;
    });
    return result;
}

ElementQuery queryUnder(const QDomNode &node, const QString &tag)
{
    return ElementQuery(node.firstChildElement(), tag);
}

ElementQuery queryWithin(const QDomElement &element, const QString &tag)
{
    return ElementQuery(element, tag);
}

QString attributeText(const QDomElement &element, const QString &name)
{
    if (element.isNull())
        return QString();
    return element.attribute(name);
}

int readInt(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

double readReal(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    // "nan" and "inf" parse, but no limit or time can use them.
    return ok && std::isfinite(value) ? value : 0.0;
}

int attributeInt(const QDomElement &element, const QString &name)
{
    return readInt(attributeText(element, name));
}

double attributeReal(const QDomElement &element, const QString &name)
{
    return readReal(attributeText(element, name));
}

QString realText(double value)
{
    return QString::number(value, 'g', 6);
}

bool XmlFile::load(const QString &filePath)
{
    path = filePath;
    error.clear();
    errorLine = 0;
    errorColumn = 0;
    const FileRead read = readRegularFile(filePath);
    if (read.status != FileRead::Read) {
        outcome = read.status == FileRead::Missing ? Outcome::Missing : Outcome::Unreadable;
        error = read.reason();
        return false;
    }
    QDomDocument parsed;
    QString message;
    int line = 0;
    int column = 0;
    // A malformed file keeps what was parsed before the fault.
    if (parsed.setContent(read.bytes, &message, &line, &column)) {
        outcome = Outcome::Whole;
    } else if (read.bytes.trimmed().isEmpty()) {
        outcome = Outcome::Empty;
        error = QStringLiteral("文件为空");
    } else {
        outcome = Outcome::Malformed;
        // The parser's sentence goes inside a message of ours: no full stop.
        while (message.endsWith(u'.') || message.endsWith(u'。'))
            message.chop(1);
        error = QStringLiteral("XML 格式错误: ") + message;
        errorLine = line;
        errorColumn = column;
    }
    document = parsed;
    return true;
}

bool XmlFile::save(int indent) const
{
    return saveDocument(document, path, indent);
}

static QString declaredEncoding(const QDomDocument &document)
{
    for (QDomNode n = document.firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (!n.isProcessingInstruction())
            continue;
        const QDomProcessingInstruction pi = n.toProcessingInstruction();
        if (pi.target() != u"xml")
            continue;
        static const QRegularExpression encoding(
            QStringLiteral("encoding\\s*=\\s*[\"']([^\"']*)[\"']"));
        return encoding.match(pi.data()).captured(1);
    }
    return QString();
}

bool saveDocument(const QDomDocument &document, const QString &path, int indent)
{
    const QString text = document.toString(indent);
    QByteArray bytes;
    QStringEncoder encoder(declaredEncoding(document).toLatin1().constData());
    if (encoder.isValid()) {
        bytes = encoder.encode(text);
        if (encoder.hasError())
            bytes = text.toUtf8();
    } else {
        bytes = text.toUtf8();
    }
    return writeFileAtomically(path, bytes);
}

QDomDocument newDocument()
{
    QDomDocument document;
    document.appendChild(document.createProcessingInstruction(
        QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    return document;
}
