#pragma once

#include <QList>
#include <QString>

// A problem package as preparation platforms export it: problem.xml at the
// top of the folder, tests under tests/ with their answers, a testlib
// checker and maybe an interactor among the files.

inline const QString PackageFileName = QStringLiteral("problem.xml");

struct PackageTest
{
    double points = -1;  // -1: none given
    QString group;
};

struct PackageGroup
{
    QString name;
    double points = -1;
    // "each-test": every test its own points; otherwise the group counts whole.
    bool eachTest = false;
};

struct ProblemPackage
{
    // Empty names: standard input and output.
    QString inputFile;
    QString outputFile;
    double timeLimitMs = 0;
    double memoryLimitBytes = 0;
    int testCount = 0;
    QString inputPattern = QStringLiteral("tests/%02d");
    QString answerPattern = QStringLiteral("tests/%02d.a");
    QList<PackageTest> tests;  // as listed; may be shorter than testCount
    QList<PackageGroup> groups;
    QString checkerSource;
    QString checkerType;
    QString interactorSource;
};

struct PackageRead
{
    bool found = false;  // the folder holds a problem.xml
    ProblemPackage package;
    // Why the package cannot be configured, with its line in problem.xml (0: none).
    QString fault;
    int line = 0;
    QString detail;  // the XML parser's own words, when it failed
};

PackageRead readProblemPackage(const QString &dir);
// Parses problem.xml's text; fault set when it is no usable package.
PackageRead parseProblemPackage(const QByteArray &xml);

// A test's file name from a pattern such as "tests/%02d": %d, %0Nd and %%
// understood; empty for any other conversion.
QString expandPathPattern(const QString &pattern, int index);
