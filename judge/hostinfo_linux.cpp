#include "hostinfo.h"

#include <QFile>
#include <QSysInfo>

#include <sys/resource.h>

QString hostName()
{
    return QSysInfo::machineHostName();
}

QString cpuModel()
{
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly)) {
        // "model name" on x86, "Model" or "cpu model" elsewhere.
        for (const QByteArray &line : info.readAll().split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray key = line.left(colon).trimmed();
            const QByteArray value = line.mid(colon + 1).simplified();
            if (!value.isEmpty() && (key == "model name" || key == "Model" || key == "cpu model"))
                return QString::fromUtf8(value);
        }
    }
    return QSysInfo::currentCpuArchitecture();
}

static double seconds(const timeval &t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double cpuSecondsUsed()
{
    double total = 0.0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        if (::getrusage(who, &usage) == 0)
            total += seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }
    return total;
}
