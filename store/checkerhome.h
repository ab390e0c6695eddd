#pragma once

#include <QString>

// The judge finds its shared checkers as "checker/<name>" under the working
// directory, so both programs start by moving to the folder that holds
// "checker": the program's own folder when the folder lies beside it (a
// build tree), else the installed one, <prefix>/lib/qxj beside <prefix>/bin.
// When neither has it, the program's folder, where the judge will report the
// checker missing.
QString checkerHome(const QString &programDir);
// checkerHome of the running program, found from any working directory.
QString checkerHome();
