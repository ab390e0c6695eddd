// The work-folder copy of a file and writes that replace a file whole:
// what they follow, what they leave behind when killed, what they keep.

#include "dirs.h"
#include "dirtrees.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestDirFiles : public QObject
{
    Q_OBJECT

private slots:
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
    TestDirFiles test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dirfiles.moc"
