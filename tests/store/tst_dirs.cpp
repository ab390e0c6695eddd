#include "dirs.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
// The file-removal seam: a file named "stuck" resists a given number of attempts.
int stuckFailures = 0;
QList<qint64> stuckAttemptTimes;
QElapsedTimer attemptClock;

// Every regular file below dir with its content, links and directories by name.
QStringList contentsOf(const QString &dir)
{
    QStringList entries = treeOf(dir);
    for (QString &entry : entries) {
        const QFileInfo info(dir + u'/' + entry);
        if (info.isFile() && !info.isSymLink())
            entry += u'=' + QString::fromUtf8(readTestFile(info.filePath()));
    }
    return entries;
}

// Permission bits as octal digits; QFile::permissions reports root's own
// access as the user's.
int modeOf(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

bool stubbornRemover(const QString &path)
{
    if (QFileInfo(path).fileName() == u"stuck") {
        stuckAttemptTimes.append(attemptClock.elapsed());
        if (stuckAttemptTimes.size() <= stuckFailures) {
            errno = EBUSY;
            return false;
        }
    }
    return QFile::remove(path);
}

// Builds a tree from entries: "d:path" directory, "f:path" file, "p:path" named
// pipe, "l:path>target" symbolic link, "h:path>target" hard link.
bool build(const QString &root, const QStringList &entries)
{
    for (const QString &entry : entries) {
        const QString path = root + u'/' + entry.mid(2);
        switch (entry.at(0).unicode()) {
        case 'd':
            if (!QDir().mkpath(path))
                return false;
            break;
        case 'f':
            if (!writeTestFile(path, "content"))
                return false;
            break;
        case 'p':
            if (mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
                return false;
            break;
        case 'l': {
            const QStringList parts = entry.mid(2).split(u'>');
            if (!QFile::link(parts.at(1), root + u'/' + parts.at(0)))
                return false;
            break;
        }
        case 'h': {
            const QStringList parts = entry.mid(2).split(u'>');
            if (::link(QFile::encodeName(root + u'/' + parts.at(1)).constData(),
                       QFile::encodeName(root + u'/' + parts.at(0)).constData())
                != 0)
                return false;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}
}

class TestDirs : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        setFileRemoverForTesting(nullptr);
    }

    void clearDir_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<bool>("cleared");
        QTest::addColumn<QStringList>("remaining");

        QTest::newRow("empty") << QStringList{} << true << QStringList{};
        QTest::newRow("files and nested directories")
            << QStringList{u"f:a"_s, u"f:B"_s, u"d:sub/deeper"_s, u"f:sub/deeper/x"_s, u"f:sub/y"_s} << true
            << QStringList{};
        QTest::newRow("hidden file directly inside stays")
            << QStringList{u"f:.keep"_s, u"f:a"_s, u"d:.hiddendir"_s} << true
            << QStringList{u".hiddendir"_s, u".keep"_s};
        QTest::newRow("hidden file in a sub-directory blocks it")
            << QStringList{u"d:sub"_s, u"f:sub/.keep"_s, u"f:sub/a"_s} << false
            << QStringList{u"sub"_s, u"sub/.keep"_s};
        QTest::newRow("entries after a blocked one are left alone")
            << QStringList{u"f:a"_s, u"d:m"_s, u"f:m/.keep"_s, u"f:z"_s} << false
            << QStringList{u"m"_s, u"m/.keep"_s, u"z"_s};
        QTest::newRow("dangling link and pipe")
            << QStringList{u"l:dangling>/nonexistent/qxj"_s, u"p:pipe"_s} << true << QStringList{};
    }

    void clearDir()
    {
        QFETCH(QStringList, entries);
        QFETCH(bool, cleared);
        QFETCH(QStringList, remaining);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(build(dir.path(), entries));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(::clearDir(dir.path()), cleared);
        QCOMPARE(treeOf(dir.path()), remaining);
        QVERIFY(QFileInfo(dir.path()).isDir());
        // A blocked entry is tried five times with 300 ms of pauses in between.
        if (!cleared)
            QVERIFY2(timer.elapsed() >= 290, qPrintable(QString::number(timer.elapsed())));
    }

    // Links, also inside a directory: removed, whatever they point to kept.
    void linksRemovedNotFollowed_data()
    {
        QTest::addColumn<bool>("scratch");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("clearDir") << false << QString();
        QTest::newRow("emptyScratchDir, hidden names") << true << u"."_s;
    }

    void linksRemovedNotFollowed()
    {
        QFETCH(bool, scratch);
        QFETCH(QString, prefix);
        QTemporaryDir outside;
        QTemporaryDir dir;
        QVERIFY(outside.isValid() && dir.isValid());
        const QStringList kept{prefix + u"file"_s, u"keep"_s, u"keep/"_s + prefix + u"precious"_s};
        QVERIFY(build(outside.path(), {u"d:keep"_s, u"f:"_s + kept[2], u"f:"_s + kept[0]}));
        const QString keep = outside.path() + u"/keep"_s;
        QVERIFY(build(dir.path(), {u"l:"_s + prefix + u"todir>"_s + keep,
                                   u"l:"_s + prefix + u"tofile>"_s + outside.path() + u'/' + kept[0],
                                   u"d:d"_s, u"l:d/"_s + prefix + u"todir>"_s + keep}));
        QVERIFY(scratch ? ::emptyScratchDir(dir.path()) : ::clearDir(dir.path()));
        QCOMPARE(treeOf(dir.path()), QStringList{});
        QCOMPARE(treeOf(outside.path()), kept);
    }

    void clearDirRetries_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<bool>("cleared");

        QTest::newRow("removed at once") << 0 << true;
        QTest::newRow("removed at the second attempt") << 1 << true;
        QTest::newRow("removed at the fifth attempt") << 4 << true;
        QTest::newRow("stays in place") << 1000 << false;
    }

    void clearDirRetries()
    {
        QFETCH(int, failures);
        QFETCH(bool, cleared);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(build(dir.path(), {u"f:a"_s, u"f:stuck"_s, u"f:z"_s}));
        stuckFailures = failures;
        stuckAttemptTimes.clear();
        setFileRemoverForTesting(stubbornRemover);
        attemptClock.start();
        QCOMPARE(::clearDir(dir.path()), cleared);

        const int attempts = std::min(failures + 1, 5);
        QCOMPARE(stuckAttemptTimes.size(), attempts);
        // Pauses of at least 20, 40, 80, 160 ms before the 2nd to 5th attempt.
        for (int i = 1; i < attempts; ++i) {
            const qint64 pause = stuckAttemptTimes[i] - stuckAttemptTimes[i - 1];
            QVERIFY2(pause >= (10 << i) - 1, qPrintable(QString::number(pause)));
        }
        if (cleared)
            QCOMPARE(treeOf(dir.path()), QStringList{});
        else
            QCOMPARE(treeOf(dir.path()), (QStringList{u"stuck"_s, u"z"_s}));
    }

    void emptyScratchDir_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<bool>("emptied");
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<QString>("failure");  // below the directory

        const QString busy = u": "_s + QString::fromLocal8Bit(std::strerror(EBUSY));
        QTest::newRow("empty") << QStringList{} << true << QStringList{} << QString();
        QTest::newRow("hidden file directly inside")
            << QStringList{u"f:.x"_s, u"f:a"_s} << true << QStringList{} << QString();
        QTest::newRow("hidden file in a sub-directory")
            << QStringList{u"d:d"_s, u"f:d/.x"_s, u"f:d/a"_s} << true << QStringList{} << QString();
        QTest::newRow("hidden directory, deeply nested")
            << QStringList{u"d:.h/a/.b"_s, u"f:.h/a/.b/.c"_s, u"f:.h/z"_s} << true << QStringList{}
            << QString();
        QTest::newRow("hidden dangling link, pipe")
            << QStringList{u"l:.dangling>/nonexistent/qxj"_s, u"p:.pipe"_s, u"p:pipe"_s} << true
            << QStringList{} << QString();
        QTest::newRow("a file that stays")
            << QStringList{u"f:.x"_s, u"f:stuck"_s, u"d:d"_s, u"f:d/.y"_s} << false
            << QStringList{u"stuck"_s} << u"stuck"_s + busy;
        // Everything else goes; the folders holding it stay.
        QTest::newRow("a file that stays, deep down")
            << QStringList{u"d:a/b"_s, u"f:a/b/stuck"_s, u"f:a/b/x"_s, u"f:a/y"_s, u"d:c"_s} << false
            << QStringList{u"a"_s, u"a/b"_s, u"a/b/stuck"_s} << u"a/b/stuck"_s + busy;
    }

    void emptyScratchDir()
    {
        QFETCH(QStringList, entries);
        QFETCH(bool, emptied);
        QFETCH(QStringList, remaining);
        QFETCH(QString, failure);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(build(dir.path(), entries));
        stuckFailures = 1000;
        stuckAttemptTimes.clear();
        setFileRemoverForTesting(stubbornRemover);
        attemptClock.start();
        QString reason;
        QCOMPARE(::emptyScratchDir(dir.path(), &reason), emptied);
        QCOMPARE(treeOf(dir.path()), remaining);
        QVERIFY(QFileInfo(dir.path()).isDir());
        QCOMPARE(reason, failure.isEmpty() ? QString() : dir.path() + u'/' + failure);
    }

    // What a contestant's program may leave in its work folder: folders
    // without their owner's rights, the work folder itself among them. A
    // judge that is no root must still empty it, and never change the rights
    // of anything a link points to.
    void emptyScratchDirRestoresAccess_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("modes");  // "path=octal", "." the folder itself
        QTest::addColumn<bool>("ordinaryUser");

        QStringList deep;
        QString path = u"n"_s;
        for (int level = 0; level < 40; ++level, path += u"/n"_s)
            deep.append(u"d:"_s + path);
        deep.append(u"f:"_s + path + u"/f"_s);
        const QStringList deepModes{path.left(39) + u"=0"_s, path + u"=0"_s};

        const struct
        {
            const char *name;
            QStringList entries;
            QStringList modes;
        } cases[] = {
            {"directory without rights", {u"d:d"_s, u"f:d/f"_s}, {u"d=0"_s}},
            {"file without rights", {u"f:f"_s}, {u"f=0"_s}},
            {"directory without write", {u"d:d/e"_s, u"f:d/f"_s}, {u"d=500"_s, u"d/e=0"_s}},
            {"the folder itself without rights", {u"d:d"_s, u"f:d/f"_s, u"f:.x"_s}, {u".=100"_s}},
            {"a deep tree locked at its middle and bottom", deep, deepModes},
            {"link to a folder without rights", {u"l:link>{outside}"_s, u"d:d"_s, u"l:d/link>{outside}"_s},
             {u"{outside}=0"_s}},
        };
        for (const auto &c : cases) {
            QTest::addRow("%s, judge as it is started", c.name) << c.entries << c.modes << false;
            if (::geteuid() == 0)
                QTest::addRow("%s, judge as an ordinary user", c.name) << c.entries << c.modes << true;
        }
    }

    void emptyScratchDirRestoresAccess()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, modes);
        QFETCH(bool, ordinaryUser);

        QTemporaryDir dir;
        QTemporaryDir outside;
        QVERIFY(dir.isValid() && outside.isValid());
        const QString work = dir.filePath(u"work"_s);
        entries.replaceInStrings(u"{outside}"_s, outside.path());
        modes.replaceInStrings(u"{outside}"_s, outside.path());
        QVERIFY(QDir().mkdir(work) && build(work, entries));
        QVERIFY(writeTestFile(outside.filePath(u"precious"_s), "kept"));
        if (ordinaryUser) {
            for (const QString &top : {dir.path(), outside.path()})
                QVERIFY(chownTree(top, OrdinaryUser));
        }
        // The deepest first: a folder without rights hides what lies below it.
        for (qsizetype i = modes.size() - 1; i >= 0; --i) {
            const QString target = modes[i].section(u'=', 0, 0);
            const QString path = target.startsWith(u'/') ? target : work + u'/' + target;
            QVERIFY2(::chmod(QFile::encodeName(path).constData(),
                             mode_t(modes[i].section(u'=', 1).toInt(nullptr, 8))) == 0,
                     qPrintable(path));
        }

        QString outcome;
        if (ordinaryUser) {
            QProcess judge;
            judge.start(u"setpriv"_s, {u"--reuid=%1"_s.arg(OrdinaryUser), u"--regid=%1"_s.arg(OrdinaryUser),
                                       u"--clear-groups"_s, QCoreApplication::applicationFilePath(),
                                       u"--empty"_s, work});
            QVERIFY(judge.waitForFinished(60000));
            outcome = QString::fromUtf8(judge.readAllStandardOutput()).trimmed();
        } else {
            QString reason;
            outcome = ::emptyScratchDir(work, &reason) ? u"emptied"_s : reason;
        }
        QCOMPARE(outcome, u"emptied"_s);
        QCOMPARE(treeOf(work), QStringList{});
        QVERIFY(QFileInfo(work).isDir());
        // What the links point to keeps its rights and its content.
        QCOMPARE(modeOf(outside.path()), modes.last().startsWith(outside.path()) ? 0 : 0700);
        QVERIFY(::chmod(QFile::encodeName(outside.path()).constData(), 0700) == 0);
        QCOMPARE(readTestFile(outside.filePath(u"precious"_s)), QByteArray("kept"));
    }

    // A contestant's program can nest directories deeper than any path the
    // system accepts; the scratch directory is still emptied, at once, and a
    // link at the bottom is removed, not followed.
    void emptyScratchDirDeepTree()
    {
        QTemporaryDir dir;
        QTemporaryDir outside;
        QVERIFY(dir.isValid() && outside.isValid());
        QVERIFY(writeTestFile(outside.filePath(u"precious"_s), "kept"));
        const QByteArray target = QFile::encodeName(outside.filePath(u"precious"_s));
        int fd = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(fd >= 0);
        constexpr int Depth = 3000;  // "/dd" each: far beyond PATH_MAX
        for (int level = 0; level < Depth && fd >= 0; ++level) {
            const int below = ::mkdirat(fd, "dd", 0755) == 0 ? ::openat(fd, "dd", O_RDONLY | O_DIRECTORY) : -1;
            ::close(fd);
            fd = below;
        }
        QVERIFY(fd >= 0);
        QVERIFY(::symlinkat(target.constData(), fd, "link") == 0);
        const int file = ::openat(fd, ".hidden", O_WRONLY | O_CREAT, 0644);
        QVERIFY(file >= 0);
        ::close(file);
        ::close(fd);

        QElapsedTimer timer;
        timer.start();
        QVERIFY(::emptyScratchDir(dir.path()));
        QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(treeOf(dir.path()), QStringList{});
        QCOMPARE(readTestFile(outside.filePath(u"precious"_s)), QByteArray("kept"));
    }

    void emptyScratchDirNeedsADirectory_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("error");
        QTest::newRow("missing") << u"absent"_s << u"不存在"_s;
        QTest::newRow("regular file") << u"plain"_s << u"路径中有一段不是目录"_s;
        QTest::newRow("through a regular file") << u"plain/sub"_s << u"路径中有一段不是目录"_s;
    }

    void emptyScratchDirNeedsADirectory()
    {
        QFETCH(QString, path);
        QFETCH(QString, error);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(writeTestFile(dir.filePath(u"plain"_s), "plain"));
        QString reason;
        QVERIFY(!::emptyScratchDir(dir.filePath(path), &reason));
        QCOMPARE(reason, dir.filePath(path) + u": "_s + error);
        QCOMPARE(readTestFile(dir.filePath(u"plain"_s)), QByteArray("plain"));
    }

    void removeDir_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<bool>("removed");

        QTest::newRow("with content") << QStringList{u"f:a"_s, u"d:b/c"_s, u"f:b/c/d"_s} << true;
        QTest::newRow("hidden file keeps it") << QStringList{u"f:.keep"_s, u"f:a"_s} << false;
    }

    void removeDir()
    {
        QFETCH(QStringList, entries);
        QFETCH(bool, removed);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString target = dir.filePath(u"target"_s);
        QVERIFY(QDir().mkdir(target));
        QVERIFY(build(target, entries));
        QCOMPARE(::removeDir(target), removed);
        QCOMPARE(QFileInfo::exists(target), !removed);
        QVERIFY(!::removeDir(dir.filePath(u"never-there"_s)));
    }

    void ensureDirMakesOneLevel()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        ensureDir(dir.filePath(u"a/b"_s));
        QVERIFY(!QFileInfo::exists(dir.filePath(u"a"_s)));
        ensureDir(dir.filePath(u"a"_s));
        ensureDir(dir.filePath(u"a"_s));
        QVERIFY(QFileInfo(dir.filePath(u"a"_s)).isDir());
        makePath(dir.filePath(u"x/y/z"_s));
        QVERIFY(QFileInfo(dir.filePath(u"x/y/z"_s)).isDir());
        QVERIFY(writeTestFile(dir.filePath(u"gone"_s), "x"));
        removeFile(dir.filePath(u"gone"_s));
        QVERIFY(!QFileInfo::exists(dir.filePath(u"gone"_s)));
    }

    void copyWritable_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("copied");

        // Beside these: "prog", read-only and executable, and the directory "work".
        QTest::newRow("read-only executable") << QStringList{} << u"prog"_s << u"work/prog"_s << true;
        QTest::newRow("empty file") << QStringList{} << u"work/empty"_s
                                    << u"work/copy"_s << true;
        QTest::newRow("source through a link")
            << QStringList{u"l:link>prog"_s} << u"link"_s << u"work/prog"_s << true;
        QTest::newRow("existing file is replaced")
            << QStringList{u"f:work/prog"_s} << u"prog"_s << u"work/prog"_s << true;
        QTest::newRow("link is replaced, not followed")
            << QStringList{u"f:keep"_s, u"l:work/prog>../keep"_s} << u"prog"_s << u"work/prog"_s
            << true;
        QTest::newRow("dangling link is replaced")
            << QStringList{u"l:work/prog>/nonexistent/qxj"_s} << u"prog"_s << u"work/prog"_s << true;
        QTest::newRow("missing source") << QStringList{} << u"absent"_s << u"work/absent"_s << false;
        QTest::newRow("missing target directory")
            << QStringList{} << u"prog"_s << u"nowhere/prog"_s << false;
        QTest::newRow("target through a regular file")
            << QStringList{u"f:plain"_s} << u"prog"_s << u"plain/prog"_s << false;
        QTest::newRow("name too long") << QStringList{} << u"prog"_s << overlongName() << false;
        QTest::newRow("source is a directory")
            << QStringList{} << u"work"_s << u"work/copy"_s << false;
        QTest::newRow("source is a named pipe")
            << QStringList{u"p:pipe"_s} << u"pipe"_s << u"work/pipe"_s << false;
        QTest::newRow("target is a directory")
            << QStringList{u"d:work/prog"_s, u"f:work/prog/x"_s} << u"prog"_s << u"work/prog"_s
            << false;
        QTest::newRow("target is the source") << QStringList{} << u"prog"_s << u"prog"_s << false;
        QTest::newRow("target is a hard link to the source")
            << QStringList{u"h:work/prog>prog"_s} << u"prog"_s << u"work/prog"_s << false;
    }

    void copyWritable()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, copied);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(build(dir.path(), {u"d:work"_s}));
        const QString prog = dir.filePath(u"prog"_s);
        QVERIFY(writeTestFile(prog, "#!/bin/sh\necho prog\n"));
        QVERIFY(writeTestFile(dir.filePath(u"work/empty"_s), QByteArray()));
        QVERIFY(build(dir.path(), entries));
        QVERIFY(::chmod(QFile::encodeName(prog).constData(), 0541) == 0);
        const QString source = dir.filePath(from);
        const QString target = dir.filePath(to);
        // Reading a named pipe would wait for a writer.
        const QByteArray content = QFileInfo(source).isFile() ? readTestFile(source) : QByteArray();
        QStringList expected = contentsOf(dir.path());

        QCOMPARE(::copyWritable(source, target), copied);
        if (copied) {
            const QFileInfo copy(target);
            QVERIFY(copy.isFile() && !copy.isSymLink());
            QCOMPARE(readTestFile(target), content);
            QCOMPARE(modeOf(target), modeOf(source) | 0200);
            // Nothing else changes, a replaced link's target included.
            expected.removeIf([&](const QString &entry) { return entry.section(u'=', 0, 0) == to; });
            expected.append(to + u'=' + QString::fromUtf8(content));
            expected.sort();
        }
        QCOMPARE(contentsOf(dir.path()), expected);
        QCOMPARE(modeOf(prog), 0541);
    }

    // Several megabytes, within one file system and into another (where the
    // kernel cannot copy between them), whole or cut by a full disk.
    void copyWritableLarge_data()
    {
        QTest::addColumn<bool>("otherFileSystem");
        QTest::addColumn<bool>("diskFull");

        QTest::newRow("same file system") << false << false;
        QTest::newRow("another file system") << true << false;
        QTest::newRow("same file system, disk full") << false << true;
        QTest::newRow("another file system, disk full") << true << true;
    }

    void copyWritableLarge()
    {
        QFETCH(bool, otherFileSystem);
        QFETCH(bool, diskFull);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        std::unique_ptr<QTemporaryDir> other;
        QString targetDir = dir.path();
        if (otherFileSystem) {
            struct stat here, there;
            if (::stat(QFile::encodeName(dir.path()).constData(), &here) != 0
                || ::stat("/dev/shm", &there) != 0 || here.st_dev == there.st_dev)
                QSKIP("no /dev/shm on another file system");
            other = std::make_unique<QTemporaryDir>(u"/dev/shm/tst_dirs-XXXXXX"_s);
            QVERIFY(other->isValid());
            targetDir = other->path();
        }
        // Not a multiple of any buffer size.
        QByteArray content(5 * 1024 * 1024 + 4321, Qt::Uninitialized);
        QRandomGenerator random(7);
        random.fillRange(reinterpret_cast<quint32 *>(content.data()), content.size() / 4);
        const QString source = dir.filePath(u"large"_s);
        QVERIFY(writeTestFile(source, content));
        const QString target = targetDir + u"/copy"_s;

        const auto copy = [&] { return ::copyWritable(source, target); };
        QCOMPARE(diskFull ? withFullDisk(copy) : copy(), !diskFull);
        QCOMPARE(QFileInfo::exists(target), !diskFull);  // no partial copy
        if (!diskFull) {
            QVERIFY(readTestFile(target) == content);
            QCOMPARE(modeOf(target), modeOf(source) | 0200);
        }
        QVERIFY(readTestFile(source) == content);
    }

    // Files of /proc have no size and cannot be copied inside the kernel.
    void copyWritableReadsToTheEnd()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString target = dir.filePath(u"cmdline"_s);
        QVERIFY(::copyWritable(u"/proc/self/cmdline"_s, target));
        const QByteArray copied = readTestFile(target);
        QVERIFY(!copied.isEmpty());
        QCOMPARE(copied, readTestFile(u"/proc/self/cmdline"_s));
    }

    // The temporary files of writeFileAtomically that a killed judge left
    // are removed once they are old enough; nothing else is.
    void staleTemporaries_data()
    {
        QTest::addColumn<QString>("entry");  // as for build
        QTest::addColumn<int>("age");  // seconds since last changed
        QTest::addColumn<bool>("named");  // as writeFileAtomically names its temporaries
        QTest::addColumn<bool>("removed");

        const QString report = u"result.html.qxj-1k2j3h"_s;
        QTest::newRow("report's temporary") << u"f:"_s + report << 3600 << true << true;
        QTest::newRow("result file's temporary") << u"f:p01.res.qxj-0"_s << 61 << true << true;
        QTest::newRow("result list's temporary") << u"f:.reslist.qxj-zz9a8b7"_s << 3600 << true << true;
        QTest::newRow("one being written") << u"f:"_s + report << 0 << true << false;
        QTest::newRow("not yet a minute old") << u"f:"_s + report << 50 << true << false;
        QTest::newRow("a link so named") << u"l:"_s + report + u">keep"_s << 3600 << true << false;
        QTest::newRow("a directory so named") << u"d:"_s + report << 3600 << true << false;
        QTest::newRow("a contestant's backup") << u"f:result.html.bak"_s << 3600 << false << false;
        QTest::newRow("capitals") << u"f:result.html.qxj-1K2J3H"_s << 3600 << false << false;
        QTest::newRow("too long") << u"f:result.html.qxj-12345678"_s << 3600 << false << false;
        QTest::newRow("the mark alone") << u"f:.qxj-1k2j3h"_s << 3600 << false << false;
        QTest::newRow("nothing after the mark") << u"f:result.html.qxj-"_s << 3600 << false << false;
    }

    void staleTemporaries()
    {
        QFETCH(QString, entry);
        QFETCH(int, age);
        QFETCH(bool, named);
        QFETCH(bool, removed);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(build(dir.path(), {u"f:keep"_s, u"f:result.html"_s, entry}));
        const QString name = entry.mid(2).section(u'>', 0, 0);
        QVERIFY(setAge(dir.filePath(name), age));
        QCOMPARE(::isAtomicTemporary(QFile::encodeName(name)), named);
        QCOMPARE(::removeStaleTemporaries(dir.path(), 60), removed ? 1 : 0);
        QStringList expected{u"keep"_s, u"result.html"_s};
        if (!removed)
            expected.append(name);
        expected.sort();
        QCOMPARE(treeOf(dir.path()), expected);
        QCOMPARE(readTestFile(dir.filePath(u"keep"_s)), QByteArray("content"));
    }

    // A writer killed half way leaves its temporary beside the file, and
    // that is what the sweep removes once it is old.
    void temporaryLeftByAKilledWriter()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(writeTestFile(dir.filePath(u"result.html"_s), "old report"));
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(),
                     {u"--killed-writing"_s, dir.filePath(u"result.html"_s)});
        QVERIFY(writer.waitForFinished(60000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left.size(), 2);
        const QString temporary = left.filter(u"result.html."_s).value(0);
        QVERIFY2(::isAtomicTemporary(QFile::encodeName(temporary)), qPrintable(temporary));

        QCOMPARE(::removeStaleTemporaries(dir.path(), 60), 0);
        QVERIFY(setAge(dir.filePath(temporary), 120));
        QCOMPARE(::removeStaleTemporaries(dir.path(), 60), 1);
        QCOMPARE(treeOf(dir.path()), QStringList{u"result.html"_s});
        QCOMPARE(readTestFile(dir.filePath(u"result.html"_s)), QByteArray("old report"));
    }

    void writeFileAtomically_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("oldFile");
        QTest::addColumn<bool>("diskFull");
        QTest::addColumn<bool>("written");

        QTest::newRow("new file") << u"new.txt"_s << false << false << true;
        QTest::newRow("replaces an old file") << u"old.txt"_s << true << false << true;
        QTest::newRow("parent is a regular file") << u"plain/x.txt"_s << false << false << false;
        QTest::newRow("name too long") << overlongName() << false << false << false;
        QTest::newRow("old file, no room for the temporary name") << QString(250, u'x') << true << false << false;
        QTest::newRow("old file, disk full") << u"old.txt"_s << true << true << false;
    }

    void writeFileAtomically()
    {
        QFETCH(QString, name);
        QFETCH(bool, oldFile);
        QFETCH(bool, diskFull);
        QFETCH(bool, written);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(writeTestFile(dir.filePath(u"plain"_s), "plain"));
        const QString path = dir.filePath(name);
        if (oldFile)
            QVERIFY(writeTestFile(path, "old content"));
        QStringList expectedTree = treeOf(dir.path());
        if (written && !oldFile) {
            expectedTree.append(name);
            expectedTree.sort();
        }

        // Just over the 4 KiB limit: a partly written flush must still count as failure.
        const QByteArray content(5000, 'n');
        const auto write = [&] { return ::writeFileAtomically(path, content); };
        const bool result = diskFull ? withFullDisk(write) : write();

        QCOMPARE(result, written);
        QCOMPARE(treeOf(dir.path()), expectedTree);  // no temporary file left behind
        if (written)
            QCOMPARE(readTestFile(path), content);
        else if (oldFile)
            QCOMPARE(readTestFile(path), QByteArray("old content"));
    }

    // Whatever stands at the name is replaced, never written through;
    // directories on the way are followed.
    void writeFileAtomicallyOverOddEntries_data()
    {
        QTest::addColumn<QStringList>("entries");  // beside the file "target"
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("landsAt");  // empty: nothing is written

        QTest::newRow("link to a file") << QStringList{u"l:out>target"_s} << u"out"_s << u"out"_s;
        QTest::newRow("dangling link") << QStringList{u"l:out>gone"_s} << u"out"_s << u"out"_s;
        QTest::newRow("link to a directory")
            << QStringList{u"d:d"_s, u"l:out>d"_s} << u"out"_s << u"out"_s;
        QTest::newRow("named pipe") << QStringList{u"p:out"_s} << u"out"_s << u"out"_s;
        QTest::newRow("old file keeps its permissions") << QStringList{} << u"target"_s
                                                        << u"target"_s;
        QTest::newRow("linked directory on the way")
            << QStringList{u"d:d"_s, u"l:via>d"_s} << u"via/out"_s << u"d/out"_s;
        QTest::newRow("directory at the name")
            << QStringList{u"d:out"_s, u"f:out/x"_s} << u"out"_s << QString();
    }

    void writeFileAtomicallyOverOddEntries()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, name);
        QFETCH(QString, landsAt);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(build(dir.path(), QStringList{u"f:target"_s} + entries));
        QVERIFY(::chmod(QFile::encodeName(dir.filePath(u"target"_s)).constData(), 0604) == 0);
        QStringList expected = contentsOf(dir.path());

        QCOMPARE(::writeFileAtomically(dir.filePath(name), "new"), !landsAt.isEmpty());
        if (!landsAt.isEmpty()) {
            QVERIFY(!QFileInfo(dir.filePath(landsAt)).isSymLink());
            const mode_t mask = ::umask(0);
            ::umask(mask);
            QCOMPARE(modeOf(dir.filePath(landsAt)), landsAt == u"target" ? 0604 : int(0666 & ~mask));
            expected.removeIf([&](const QString &e) { return e.section(u'=', 0, 0) == landsAt; });
            expected.append(landsAt + u"=new"_s);
            expected.sort();
        }
        QCOMPARE(contentsOf(dir.path()), expected);
    }
};

int main(int argc, char **argv)
{
    // The judge's part, run as another user by the tests above.
    if (argc == 3 && std::strcmp(argv[1], "--empty") == 0) {
        QString reason;
        const bool emptied = ::emptyScratchDir(QFile::decodeName(argv[2]), &reason);
        std::puts(emptied ? "emptied" : reason.toUtf8().constData());
        return 0;
    }
    // Killed by the file size limit half way through writing: what a kill
    // -9 of the judge leaves.
    if (argc == 3 && std::strcmp(argv[1], "--killed-writing") == 0) {
        const rlimit small{4096, 4096};
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_FSIZE, &small);
        ::setrlimit(RLIMIT_CORE, &none);
        ::writeFileAtomically(QFile::decodeName(argv[2]), QByteArray(64 * 1024, 'x'));
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestDirs test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dirs.moc"
