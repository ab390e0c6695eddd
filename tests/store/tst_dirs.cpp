// Clearing and removing folders: the scratch area between runs, whatever a
// program left there, and the judge's rights back where it took them.

#include "dirs.h"
#include "dirtrees.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The file-removal seam: a file named "stuck" resists a given number of attempts.
int stuckFailures = 0;
QList<qint64> stuckAttemptTimes;
QElapsedTimer attemptClock;

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

} // namespace

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
    QCoreApplication app(argc, argv);
    TestDirs test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dirs.moc"
