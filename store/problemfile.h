#pragma once

#include "xmlfile.h"

#include <QList>
#include <QPair>
#include <QString>

// Readers of a problem configuration document (".prb"). Every value is found
// by the ElementQuery rules, so hand-written files read like written ones.

QString problemKind(const QDomDocument &config);  // root element's "type"
inline const QString KindTraditional = QStringLiteral("TRA_0_4");
inline const QString KindAnswer = QStringLiteral("ANS_0_4");

struct SourceSpec
{
    QString dir;
    QString file;
    int codeLimitKb = 0;
    QString codeLimitText;  // "code" as written, for the size note
    QString runexe;
};
SourceSpec problemSource(const QDomDocument &config);

struct LanguageSpec
{
    QString file;
    QString cmd;
};
QList<LanguageSpec> problemLanguages(const QDomDocument &config);

struct PointSpec
{
    QString in;
    QString out;
    QString sub;
    double time = 0.0;
    double mem = 0.0;
};

struct SubtaskSpec
{
    int score = 0;
    QList<PointSpec> points;
};

struct TaskSpec
{
    QString input;
    QString output;
    QString checker;
    QList<SubtaskSpec> subtasks;
};
TaskSpec problemTask(const QDomDocument &config);

// Defaults the configuration dialog shows; a value stays empty when absent.
struct DialogDefaults
{
    QString time;
    QString mem;
    QString checker;
};
DialogDefaults problemDialogDefaults(const QDomDocument &config);

// Whether the configuration dialog may rewrite this document.
bool mayRewriteConfig(const QDomDocument &config);

class Contest;
using DataPair = QPair<QString, QString>;  // input file, answer file
// False when the guard kept the file or it could not be written.
bool writeProblemConfig(Contest &contest, const QString &problem, const QString &timeText,
                        const QString &memText, const QString &checkerText,
                        const QList<DataPair> &pairs);
