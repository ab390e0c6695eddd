#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What the similarity tester (sim_c, sim_c++, sim_pasc; run with -n) prints:
// the token count of every input file, then one line per matching run:
//   "a.cpp: line 3-25    |b.cpp: line 4-26    [213]"
// File names must hold no spaces, colons or bars: the judge names its
// copies so.

struct SimFileInfo
{
    QString name;
    int tokens = 0;
};

struct SimRunLine
{
    QString first;
    int firstFrom = 0;
    int firstTo = 0;
    QString second;
    int secondFrom = 0;
    int secondTo = 0;
    int tokens = 0;
};

struct SimOutput
{
    QList<SimFileInfo> files;
    QList<SimRunLine> runs;
};

// Lines of any other form are passed over.
SimOutput parseSimOutput(const QByteArray &text);
