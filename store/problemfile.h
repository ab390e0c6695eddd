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
// Whether the dialog may replace the file as it lies on disk now (current
// just loaded from it): no file, an empty one, or one the rewrite guard
// allows. A file that is no regular file, cannot be read, or stops being
// XML before it shows the dialog's mark is someone's work, and stays.
bool mayReplaceConfigFile(const XmlFile &current);

// Why a problem must not be judged with this configuration: the file could
// not be read to its end, names a kind of problem this judge does not know,
// or sets what no run can have (a limit that is not a positive finite
// number, a score that is not an int). Judging what was read would give
// wrong scores without a word.
struct ConfigFault
{
    int line = 0;  // in the file; 0 when the fault is the file's as a whole
    QString reason;
    bool isNull() const { return reason.isEmpty(); }
};
// A null fault when the configuration can be judged as it is.
ConfigFault configFault(const XmlFile &config);

class Contest;
using DataPair = QPair<QString, QString>;  // input file, answer file
// False when the guard kept the file or it could not be written.
bool writeProblemConfig(Contest &contest, const QString &problem, const QString &timeText,
                        const QString &memText, const QString &checkerText,
                        const QList<DataPair> &pairs);
