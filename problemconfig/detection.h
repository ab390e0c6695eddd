#pragma once

#include "contest.h"
#include "problemfile.h"

#include <QList>
#include <QString>
#include <QStringList>

// Test data detection: which files of a problem's data directory are inputs,
// which are their answers, and in which order the test points come.

// Candidate names of a data directory: plain files, hidden ones left out,
// sorted ignoring case, lower-cased, without programs, "~" files and ".prb".
// A name that only differs from an earlier one in case is listed once.
QStringList listDataFilesIn(const QString &dir);
inline QStringList listDataFiles(const Contest &contest, const QString &problem)
{
    return listDataFilesIn(contest.problemDir(problem));
}

// The part in which two names differ, as "left/right"; "" for equal names.
QString nameDifference(const QString &a, const QString &b);

// How much a name looks like an input file ("input" 32, "in" 16, "i" 1).
int inputLikeness(const QString &name);

// Natural order: runs of digits compare as numbers, so "2" comes before "10".
bool naturalLessOrEqual(const QString &a, const QString &b);

// The (input, answer) pairs of a candidate list, ordered naturally by input.
// Every name is compared with every other, so a longer list than
// MaxDetectedNames (gigabytes and minutes of work) gives no pairs.
constexpr qsizetype MaxDetectedNames = 5000;
QList<DataPair> detectTestData(const QStringList &names);

// Detection over a data directory. Names are compared lower-cased, but the
// pairs name the files as they are on disk: this file system tells case apart.
QList<DataPair> detectTestDataIn(const QString &dir);
