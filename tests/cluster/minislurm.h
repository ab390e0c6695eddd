#pragma once

// A real Slurm of one node on this machine, for the cluster recipe's tests
// and benchmark: Debian's munged, slurmctld and slurmd, each started here in
// the foreground with its files in a folder of its own (key, sockets, state,
// spool, logs, free ports), so that it meets no other Slurm on the machine,
// not even another test's. stop(), also run by the destructor, ends every
// daemon it started and whatever job process outlived them.

#include "commandrun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>

#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

class MiniSlurm
{
public:
    using Result = CommandRun;

    // The programs it needs; those not installed (empty: all are).
    static QStringList missingPrograms()
    {
        QStringList missing;
        for (const char *program : {"munged", "slurmctld", "slurmd", "sbatch", "scontrol", "squeue", "scancel", "sinfo"}) {
            const QString name = QString::fromLatin1(program);
            if (QStandardPaths::findExecutable(name).isEmpty()
                && QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")}).isEmpty())
                missing.append(name);
        }
        return missing;
    }

    // dir: an empty folder for everything; path: put before PATH for the jobs.
    MiniSlurm(const QString &dir, const QString &path) : m_dir(dir), m_path(path) {}
    ~MiniSlurm() { stop(); }
    MiniSlurm(const MiniSlurm &) = delete;
    MiniSlurm &operator=(const MiniSlurm &) = delete;

    QString configPath() const { return m_dir + QStringLiteral("/slurm.conf"); }

    // Empty once the node takes jobs; otherwise what went wrong, with the
    // daemons' logs.
    QString start()
    {
        // Job steps that slurmd leaves behind become this process's children,
        // so that stop() finds them.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        const QString munge = m_dir + QStringLiteral("/munge");
        if (!QDir().mkpath(munge) || !QDir().mkpath(m_dir + QStringLiteral("/state"))
            || !QDir().mkpath(m_dir + QStringLiteral("/spool")) || !QDir().mkpath(m_dir + QStringLiteral("/log")))
            return QStringLiteral("cannot make the folders in ") + m_dir;
        QFile key(munge + QStringLiteral("/munge.key"));
        QByteArray bytes(1024, '\0');
        QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
        if (!key.open(QIODevice::WriteOnly) || key.write(bytes) != bytes.size())
            return QStringLiteral("cannot write the munge key");
        key.close();
        key.setPermissions(QFile::ReadOwner);

        const int controllerPort = freePort();
        const int nodePort = freePort();
        if (controllerPort <= 0 || nodePort <= 0 || controllerPort == nodePort)
            return QStringLiteral("no free port");
        // The controller checks that it runs on the host the file names.
        const QString host = QSysInfo::machineHostName().section(u'.', 0, 0);
        const QString d = m_dir;
        const QString config =
            QStringLiteral("ClusterName=qxj%1\n").arg(QCoreApplication::applicationPid())
            + QStringLiteral("SlurmctldHost=%1(127.0.0.1)\n").arg(host)
            + QStringLiteral("SlurmctldPort=%1\nSlurmdPort=%2\n").arg(controllerPort).arg(nodePort)
            + QStringLiteral("SlurmUser=root\nSlurmdUser=root\n")
            + QStringLiteral("AuthType=auth/munge\nCredType=cred/munge\nAuthInfo=socket=%1/munge.socket\n").arg(munge)
            + QStringLiteral("StateSaveLocation=%1/state\nSlurmdSpoolDir=%1/spool\n").arg(d)
            + QStringLiteral("SlurmctldPidFile=%1/slurmctld.pid\nSlurmdPidFile=%1/slurmd.pid\n").arg(d)
            + QStringLiteral("SlurmctldLogFile=%1/log/slurmctld.log\nSlurmdLogFile=%1/log/slurmd.log\n").arg(d)
            // No cgroups: processes tracked by their parentage, tasks not bound.
            + QStringLiteral("ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\n")
            + QStringLiteral("JobAcctGatherType=jobacct_gather/none\nAccountingStorageType=accounting_storage/none\n")
            + QStringLiteral("JobCompType=jobcomp/none\nMpiDefault=none\nMailProg=/bin/true\n")
            + QStringLiteral("SchedulerType=sched/builtin\nSelectType=select/cons_tres\nSelectTypeParameters=CR_CPU\n")
            + QStringLiteral("ReturnToService=2\nKillWait=5\nMinJobAge=600\n")
            + QStringLiteral("NodeName=%1 NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN\n").arg(NodeName)
            + QStringLiteral("PartitionName=qxj Nodes=%1 Default=YES MaxTime=INFINITE State=UP\n").arg(NodeName);
        QFile file(configPath());
        if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
            return QStringLiteral("cannot write ") + configPath();
        file.close();

        startDaemon(QStringLiteral("munged"),
                    {QStringLiteral("--foreground"), QStringLiteral("--force"),
                     QStringLiteral("--socket=") + munge + QStringLiteral("/munge.socket"),
                     QStringLiteral("--key-file=") + munge + QStringLiteral("/munge.key"),
                     QStringLiteral("--pid-file=") + munge + QStringLiteral("/munged.pid"),
                     QStringLiteral("--log-file=") + d + QStringLiteral("/log/munged.log"),
                     QStringLiteral("--seed-file=") + munge + QStringLiteral("/munged.seed")});
        if (!waitFor([&] { return QFileInfo::exists(munge + QStringLiteral("/munge.socket")); }, 30000))
            return QStringLiteral("munged did not start\n") + logs();
        startDaemon(QStringLiteral("slurmctld"), {QStringLiteral("-D"), QStringLiteral("-f"), configPath()});
        startDaemon(QStringLiteral("slurmd"),
                    {QStringLiteral("-D"), QStringLiteral("-N"), NodeName, QStringLiteral("-f"), configPath()});
        const bool idle = waitFor(
            [&] {
                return run(QStringLiteral("sinfo"), {QStringLiteral("-h"), QStringLiteral("-o"), QStringLiteral("%T")})
                           .out.trimmed()
                       == QStringLiteral("idle");
            },
            60000);
        return idle ? QString() : QStringLiteral("the node did not become idle\n") + logs();
    }

    // Cancels every job, then ends slurmd, slurmctld and munged, then any
    // job process left.
    void stop()
    {
        if (m_daemons.empty())
            return;
        if (running(QStringLiteral("slurmctld"))) {
            const QStringList jobs = run(QStringLiteral("squeue"), {QStringLiteral("-h"), QStringLiteral("-o"), QStringLiteral("%A")})
                                         .out.split(u'\n', Qt::SkipEmptyParts);
            if (!jobs.isEmpty()) {
                run(QStringLiteral("scancel"), jobs);
                waitFor([&] { return run(QStringLiteral("squeue"), {QStringLiteral("-h")}).out.trimmed().isEmpty(); }, 30000);
            }
        }
        for (const QString &name : {QStringLiteral("slurmd"), QStringLiteral("slurmctld"), QStringLiteral("munged")}) {
            for (auto &daemon : m_daemons) {
                if (daemon.name != name || daemon.process->state() == QProcess::NotRunning)
                    continue;
                daemon.process->terminate();
                if (!daemon.process->waitForFinished(20000)) {
                    daemon.process->kill();
                    daemon.process->waitForFinished();
                }
            }
        }
        m_daemons.clear();
        // Job steps end shortly after their job; what has not by then is killed.
        waitFor([] { return strayChildren().isEmpty(); }, 15000);
        for (const pid_t pid : strayChildren())
            ::kill(pid, SIGKILL);
        for (const pid_t pid : strayChildren())
            ::waitpid(pid, nullptr, 0);
    }

    // Processes that name this Slurm's folder on their command line (its
    // daemons and job steps): none once stop() has returned.
    QStringList livingProcesses() const
    {
        QStringList living;
        const QByteArray mark = m_dir.toUtf8();
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool number = false;
            entry.toInt(&number);
            QFile cmdline(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline"));
            if (!number || !cmdline.open(QIODevice::ReadOnly))
                continue;
            QByteArray text = cmdline.readAll();
            if (text.contains(mark))
                living.append(entry + u' ' + QString::fromUtf8(text.replace('\0', ' ')));
        }
        return living;
    }

    // A Slurm client (or any program) run with this Slurm's environment.
    Result run(const QString &program, const QStringList &arguments, const QString &workDir = QString()) const
    {
        return runCommand(program, arguments, workDir.isEmpty() ? m_dir : workDir, environment(), 120000);
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("SLURM_CONF"), configPath());
        environment.insert(QStringLiteral("PATH"),
                           m_path + u':' + environment.value(QStringLiteral("PATH")) + QStringLiteral(":/usr/sbin:/sbin"));
        return environment;
    }

    // Waits until every task of the job has ended; each task's line "STATE
    // EXIT" (as "COMPLETED 0:0"), or empty when it did not end in time. A job
    // waiting for a dependency that can no longer be met has ended too.
    QStringList waitForJob(const QString &id, int timeoutMs) const
    {
        QStringList states;
        const bool ended = waitFor(
            [&] {
                states.clear();
                const Result shown = run(QStringLiteral("scontrol"), {QStringLiteral("show"), QStringLiteral("job"),
                                                                       QStringLiteral("-o"), id});
                if (shown.exitCode != 0)
                    return false;
                for (const QString &line : shown.out.split(u'\n', Qt::SkipEmptyParts)) {
                    const QString state = field(line, QStringLiteral("JobState"));
                    const QString reason = field(line, QStringLiteral("Reason"));
                    if (reason == QStringLiteral("DependencyNeverSatisfied"))
                        states.append(QStringLiteral("NEVER ") + field(line, QStringLiteral("ExitCode")));
                    else if (QStringList{QStringLiteral("PENDING"), QStringLiteral("RUNNING"), QStringLiteral("CONFIGURING"),
                                         QStringLiteral("COMPLETING"), QStringLiteral("REQUEUED"), QStringLiteral("SUSPENDED")}
                                 .contains(state))
                        return false;
                    else
                        states.append(state + u' ' + field(line, QStringLiteral("ExitCode")));
                }
                return !states.isEmpty();
            },
            timeoutMs);
        return ended ? states : QStringList();
    }

    // The daemons' logs, for a failure's message.
    QString logs() const
    {
        QString text;
        for (const QString &name : QDir(m_dir + QStringLiteral("/log")).entryList(QDir::Files)) {
            QFile file(m_dir + QStringLiteral("/log/") + name);
            if (file.open(QIODevice::ReadOnly))
                text += QStringLiteral("== ") + name + u'\n' + QString::fromUtf8(file.readAll().right(3000));
        }
        for (const auto &daemon : m_daemons)
            text += QStringLiteral("== ") + daemon.name + QStringLiteral(" (standard error)\n")
                    + QString::fromUtf8(daemon.process->readAllStandardError().right(3000));
        return text;
    }

    template<typename Done> static bool waitFor(Done done, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > timeoutMs)
                return false;
            QThread::msleep(100);
        }
        return true;
    }

private:
    struct Daemon
    {
        QString name;
        std::unique_ptr<QProcess> process;
    };

    inline static const QString NodeName = QStringLiteral("qxjnode");

    static int freePort()
    {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = -1;
        if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && ::getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        if (s >= 0)
            ::close(s);
        return port;
    }

    static QString field(const QString &line, const QString &name)
    {
        const qsizetype at = line.indexOf(name + u'=');
        if (at < 0)
            return QString();
        const qsizetype from = at + name.size() + 1;
        const qsizetype end = line.indexOf(u' ', from);
        return line.mid(from, end < 0 ? -1 : end - from);
    }

    // Children of this process that no QProcess of it started: job steps
    // slurmd left, adopted as their subreaper. Those that have ended are
    // reaped on the way.
    static QList<pid_t> strayChildren()
    {
        QList<pid_t> pids;
        const QByteArray self = QByteArray::number(::getpid());
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool number = false;
            const pid_t pid = entry.toInt(&number);
            if (!number)
                continue;
            QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = stat.readAll();
            const QList<QByteArray> after = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (after.size() < 2 || after[1] != self)
                continue;
            if (after[0] == "Z")
                ::waitpid(pid, nullptr, WNOHANG);
            else
                pids.append(pid);
        }
        return pids;
    }

    void startDaemon(const QString &name, const QStringList &arguments)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment());
        process->setWorkingDirectory(m_dir);
        process->setStandardOutputFile(QProcess::nullDevice());
        // Ends with this process, however it ends.
        process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process->start(QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                                             QStringLiteral("/usr/bin")}),
                       arguments);
        process->waitForStarted();
        m_daemons.push_back({name, std::move(process)});
    }

    bool running(const QString &name) const
    {
        for (const auto &daemon : m_daemons) {
            if (daemon.name == name && daemon.process->state() == QProcess::Running)
                return true;
        }
        return false;
    }

    QString m_dir;
    QString m_path;
    std::vector<Daemon> m_daemons;
};
