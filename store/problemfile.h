#pragma once

#include "xmlfile.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Readers of a problem configuration document (".prb"). Every value is found
// by the ElementQuery rules, so hand-written files read like written ones.

QString problemKind(const QDomDocument &config);  // root element's "type"
inline const QString KindTraditional = QStringLiteral("TRA_0_4");
inline const QString KindAnswer = QStringLiteral("ANS_0_4");

// Checker conventions a task's "checkertype" names. Absent: the verdict-file
// contract (checker input answer output verdict), an executable found by name.
inline const QString CheckerVerdictFile = QString();
// testlib's: checker input output answer result, its exit code the verdict;
// "checker" is a path in the problem folder, a C++ source (compiled by the
// judge) or an executable.
inline const QString CheckerTestlib = QStringLiteral("testlib");
// Whether a testlib checker or interactor path names a source to compile.
bool isCheckerSource(const QString &path);
// A file the judge reads or copies from the problem folder: a relative path
// that stays inside it.
bool insideProblemFolder(const QString &path);
// The same for an interactor, which may also be a C source (built by g++ too).
bool isInteractorSource(const QString &path);

struct SourceSpec
{
    QString dir;
    QString file;
    int codeLimitKb = 0;
    QString codeLimitText;  // "code" as written, for the size note
    QString runexe;
    // Files of the problem folder copied beside the contestant's source
    // before compiling (<grader file=".."/> under <source>).
    QStringList graders;
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
    // stdio="1": the program reads the input as standard input and writes
    // standard output; input and output are not used.
    bool stdio = false;
    QString checker;
    QString checkerType;  // CheckerVerdictFile or CheckerTestlib
    // <interactor path=".."/>: a path in the problem folder, a source the
    // judge compiles (isInteractorSource) or an executable. Set: the task is
    // interactive, its program talks with the interactor through its standard
    // streams (stdio is set too), and checker, when named, judges what the
    // interactor wrote.
    QString interactor;
    bool interactive() const { return !interactor.isEmpty(); }
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

// What the configuration dialog writes for a problem.
struct ProblemPlan
{
    QString time;
    QString mem;
    QString checker;
    QString checkerType;
    bool stdio = false;
    // Named files the program reads and writes; empty: <problem>.in and .out.
    QString input;
    QString output;
    // Path of the interactor in the problem folder, written as
    // <interactor path=".."/> in the task; the program then uses standard
    // input and output.
    QString interactor;
    QStringList graders;
    QList<DataPair> pairs;
    // Subtasks as (score, indexes into pairs); empty: one subtask a point,
    // 100 points shared out.
    QList<QPair<int, QList<int>>> subtasks;
};

// False when the guard kept the file or it could not be written.
bool writeProblemConfig(Contest &contest, const QString &problem, const ProblemPlan &plan);
bool writeProblemConfig(Contest &contest, const QString &problem, const QString &timeText,
                        const QString &memText, const QString &checkerText,
                        const QList<DataPair> &pairs);
