#pragma once

// A larger contest made from the sample, for judging one contest in several
// ways and comparing: the sample's players, copies of them, a player whose
// programs write nothing, and a problem whose checker breaks on one point.

#include "clitestutil.h"
#include "xmlfile.h"

#include <QDir>
#include <QMap>
#include <QRegularExpression>

inline const QByteArray EchoConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<problem type="TRA_0_4">
    <source dir="echo" file="echo" code="64">
        <language file="echo.c" cmd="gcc -o echo echo.c"/>
    </source>
    <task input="echo.in" output="echo.out" checker="check">
        <subtask score="50"><point in="echo1.in" out="echo1.ans" time="1" mem="64"/></subtask>
        <subtask score="50"><point in="echo2.in" out="echo2.ans" time="1" mem="64"/></subtask>
    </task>
</problem>
)";

// Accepts an equal output, fails a different one, and breaks on point 2.
inline const QByteArray EchoChecker = "#!/bin/sh\n"
                                      "case $1 in *echo2.in) exit 3 ;; esac\n"
                                      "if cmp -s \"$2\" \"$3\"; then echo 1; else echo 0; fi > \"$4\"\n";

inline QByteArray echoProgram(const char *written)
{
    return QByteArray("#include <stdio.h>\nint main(void)\n{\n    FILE *f = fopen(\"echo.out\", \"w\");\n"
                      "    fputs(\"") + written + "\\n\", f);\n    fclose(f);\n    return 0;\n}\n";
}

// The sample at root with `copies` copies of each of its players (p01_1 …).
inline bool writeMixedContest(const QString &sample, const QString &root, int copies)
{
    if (!copyTree(sample, root))
        return false;
    const QString data = root + QStringLiteral("/data/echo/");
    const QString src = root + QStringLiteral("/src/");
    bool written = writeTestFile(data + QStringLiteral(".prb"), EchoConfig)
                   && writeTestFile(data + QStringLiteral("echo1.in"), "1\n")
                   && writeTestFile(data + QStringLiteral("echo1.ans"), "1\n")
                   && writeTestFile(data + QStringLiteral("echo2.in"), "2\n")
                   && writeTestFile(data + QStringLiteral("echo2.ans"), "2\n")
                   && writeTestFile(data + QStringLiteral("check"), EchoChecker)
                   && QFile::setPermissions(data + QStringLiteral("check"),
                                            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
                   && writeTestFile(src + QStringLiteral("std/echo/echo.c"), echoProgram("1"))
                   && writeTestFile(src + QStringLiteral("p01/echo/echo.c"), echoProgram("7"));
    const QStringList players = QDir(src).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &player : players) {
        for (int k = 1; written && k <= copies; ++k)
            written = copyTree(src + player, src + player + u'_' + QString::number(k));
    }
    const QByteArray silent = "int main(void)\n{\n    return 0;\n}\n";
    return written && writeTestFile(src + QStringLiteral("quiet/sum/sum.c"), silent)
           && writeTestFile(src + QStringLiteral("quiet/echo/echo.c"), silent);
}

// Every result file below root's result/, as "score state points notes",
// by "problem/player"; the figures of time and memory left out.
inline QMap<QString, QString> verdictsBelow(const QString &root)
{
    static const QRegularExpression figure(QStringLiteral("\\d+\\.\\d+"));
    QMap<QString, QString> verdicts;
    const QString results = root + QStringLiteral("/result");
    for (const QString &problem : QDir(results).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QString &file : QDir(results + u'/' + problem).entryList({QStringLiteral("*.res")})) {
            XmlFile result;
            if (!result.load(results + u'/' + problem + u'/' + file))
                continue;
            const QDomElement task = result.document.documentElement();
            QString verdict = task.attribute(QStringLiteral("score")) + u' '
                              + task.attribute(QStringLiteral("state")) + u' ' + pointStates(result);
            const ElementQuery points = queryUnder(result.document, QStringLiteral("point"));
            for (int i = 0; i < points.count(); ++i)
                verdict += u'|' + attributeText(points.item(i), QStringLiteral("note"));
            const ElementQuery notes = queryUnder(result.document, QStringLiteral("note"));
            for (int i = 0; i < notes.count(); ++i)
                verdict += u'|' + notes.item(i).toElement().text();
            verdicts.insert(problem + u'/' + file.chopped(4), verdict.replace(figure, QStringLiteral("#")));
        }
    }
    return verdicts;
}
