#pragma once

// Generated contestants' sources for the similarity tests and benchmark:
// real-looking C++ programs (reading, loops, conditions, arithmetic,
// helper functions), each drawn from its own seed, and copies of them
// disguised the way copied code is: identifiers renamed, layout and comments
// changed, a few harmless lines added.

#include <QByteArray>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

class SourceGenerator
{
public:
    explicit SourceGenerator(quint32 seed) : m_random(seed) {}

    QString program()
    {
        m_variables.clear();
        const int count = 3 + int(m_random.bounded(4));
        for (int i = 0; i < count; ++i)
            m_variables.append(QStringLiteral("v%1").arg(i));
        QString text = QStringLiteral("#include <cstdio>\nconst int N = 1000;\nint a[N];\nlong long s;\n");
        for (int f = 0; f < 4; ++f)
            text += QStringLiteral("int f%1(int x) {\n    return %2;\n}\n")
                        .arg(f)
                        .arg(expression({QStringLiteral("x")}, 0));
        text += QStringLiteral("int main() {\n");
        for (const QString &v : std::as_const(m_variables))
            text += QStringLiteral("    int %1 = 0;\n").arg(v);
        const int statements = 15 + int(m_random.bounded(20));
        for (int i = 0; i < statements; ++i)
            text += statement(m_variables, 1);
        return text + QStringLiteral("    return 0;\n}\n");
    }

    // The same program as a contestant who copied it would hand it in.
    QString disguised(const QString &original)
    {
        static const QRegularExpression identifier(QStringLiteral("\\b(v\\d|i\\d|f\\d|s|a|x)\\b"));
        QHash<QString, QString> names;
        QString renamed;
        qsizetype last = 0;
        auto it = identifier.globalMatch(original);
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            QString &name = names[match.captured(1)];
            if (name.isEmpty())
                name = word(5 + int(m_random.bounded(4)));
            renamed += original.mid(last, match.capturedStart() - last) + name;
            last = match.capturedEnd();
        }
        renamed += original.mid(last);

        QString result;
        const QStringList lines = renamed.split(u'\n');
        for (const QString &line : lines) {
            const QString body = line.trimmed();
            result += QString(int(m_random.bounded(3)) * 2, u' ') + body + u'\n';
            if (body.endsWith(u';') && m_random.bounded(12) == 0)
                result += QStringLiteral("// ") + word(6) + u'\n';
            if (body.endsWith(u'{') && body.startsWith(QStringLiteral("int main")))
                result += QStringLiteral("int ") + word(7) + QStringLiteral(" = 1;\n");
        }
        return result;
    }

private:
    QString word(int length)
    {
        QString text;
        for (int i = 0; i < length; ++i)
            text += QChar(u'a' + int(m_random.bounded(26)));
        return text;
    }

    QString pick(const QStringList &list) { return list.at(int(m_random.bounded(int(list.size())))); }

    QString expression(const QStringList &variables, int depth)
    {
        const int r = int(m_random.bounded(100));
        if (depth > 2 || r < 30)
            return m_random.bounded(3) == 0 ? QString::number(m_random.bounded(100))
                                            : pick(variables);
        const QString op = pick({QStringLiteral("+"), QStringLiteral("-"), QStringLiteral("*"),
                                 QStringLiteral("/"), QStringLiteral("%"), QStringLiteral("^"),
                                 QStringLiteral("&"), QStringLiteral("|"), QStringLiteral("<<")});
        if (r < 50)
            return u'(' + expression(variables, depth + 1) + u' ' + op + u' '
                   + expression(variables, depth + 1) + u')';
        if (r < 60)
            return QStringLiteral("a[") + expression(variables, depth + 1) + QStringLiteral(" % N]");
        if (r < 70)
            return QStringLiteral("f%1(").arg(m_random.bounded(4)) + expression(variables, depth + 1)
                   + u')';
        return expression(variables, depth + 1) + u' ' + op + u' ' + expression(variables, depth + 1);
    }

    QString statement(const QStringList &variables, int depth)
    {
        const QString indent(depth * 4, u' ');
        const int r = int(m_random.bounded(100));
        const QString v = pick(variables);
        if (depth < 3 && r < 15) {
            const QString i = QStringLiteral("i%1").arg(depth);
            QString text = indent + QStringLiteral("for (int %1 = 0; %1 < %2; %1++) {\n")
                                        .arg(i, expression(variables, 0));
            const int body = 1 + int(m_random.bounded(4));
            for (int k = 0; k < body; ++k)
                text += statement(variables + QStringList{i}, depth + 1);
            return text + indent + QStringLiteral("}\n");
        }
        if (depth < 3 && r < 30) {
            QString text = indent + QStringLiteral("if (%1 > %2) {\n")
                                        .arg(expression(variables, 0), expression(variables, 0));
            const int body = 1 + int(m_random.bounded(3));
            for (int k = 0; k < body; ++k)
                text += statement(variables, depth + 1);
            return text + indent + QStringLiteral("} else {\n") + statement(variables, depth + 1)
                   + indent + QStringLiteral("}\n");
        }
        if (r < 40)
            return indent + QStringLiteral("while (%1 > 0) {\n%2    %1 /= 2;\n%2    s += %3;\n%2}\n")
                                .arg(v, indent, expression(variables, 0));
        if (r < 50)
            return indent + QStringLiteral("printf(\"%lld\\n\", (long long)(%1));\n")
                                .arg(expression(variables, 0));
        if (r < 60)
            return indent + QStringLiteral("scanf(\"%d\", &%1);\n").arg(v);
        return indent + v + u' '
               + pick({QStringLiteral("="), QStringLiteral("+="), QStringLiteral("-="),
                       QStringLiteral("^=")})
               + u' ' + expression(variables, 0) + QStringLiteral(";\n");
    }

    QRandomGenerator m_random;
    QStringList m_variables;
};
