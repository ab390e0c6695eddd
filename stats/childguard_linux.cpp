#include "childguard_linux.h"

#include <QProcess>

#include <csignal>

#include <sys/prctl.h>

void endWithParent(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}
