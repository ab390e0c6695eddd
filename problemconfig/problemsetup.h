#pragma once

#include "problemfile.h"

#include <QString>
#include <QStringList>

// What a problem folder says about its own configuration: test data, a
// testlib checker, grader files, an interactor, or a whole problem package.
// The configuration dialog starts from it and qxj-judge --configure writes
// it as it is.

inline const QString DefaultTime = QStringLiteral("1");
inline const QString DefaultMemory = QStringLiteral("128");
inline const QString DefaultChecker = QStringLiteral("全文比较");

struct ProblemSetup
{
    ProblemPlan plan;
    bool package = false;  // read from problem.xml
    // Why nothing may be written for this folder (a package that cannot be
    // read, tests it names that are missing); empty when the plan is whole.
    QString fault;
    QString detail;  // what the XML parser said of problem.xml, when it failed
};

// The plan "完成" writes for a folder left at the dialog's defaults. Without
// withTests, the test points and subtasks are not looked for.
ProblemSetup detectProblemSetup(const QString &dir, const QString &problem, bool withTests = true);

// C++ sources of the folder and its files/ that include testlib.h and are
// neither interactor, validator nor generator, as paths relative to dir;
// the usual checker names (check, checker, chk) first.
QStringList testlibCheckersIn(const QString &dir);
// The interactor a folder holds: a source named interactor, interact or
// interactive, or a testlib source that sets up an interaction; the folder's
// own before files/. Empty when none.
QString interactorIn(const QString &dir);
// Files copied beside a contestant's source: grader* sources and headers at
// the top of the folder, and with them the problem's own header
// (<problem>.h) that contestants include.
QStringList graderFilesIn(const QString &dir, const QString &problem);

// How the dialog shows a checker: "check.cpp (testlib)" for a testlib one.
QString checkerChoiceText(const QString &checker, const QString &type);
// The checker and its type back from a text checkerChoiceText made.
void readCheckerChoice(const QString &text, QString &checker, QString &type);

// Problems in the order the dialog shows them: the configured ones in the
// contest's order, then the other folders in theirs.
QStringList problemColumnOrder(const QStringList &configured, const QStringList &folders);

// A limit as the dialog writes it: seconds from milliseconds, megabytes
// from bytes, at most six decimals.
QString secondsText(double milliseconds);
QString megabytesText(double bytes);
