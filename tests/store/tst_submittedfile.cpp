#include "dirs.h"
#include "submittedfile.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(SubmittedFile::Kind)

namespace {

// Builds entries below root: "d:path" directory, "f:path" a file holding its
// own path, "p:path" named pipe, "s:path" socket, "l:path>target" symbolic link.
bool build(const QString &root, const QStringList &entries)
{
    for (const QString &entry : entries) {
        const QString layout = entry.mid(2);
        const QString path = root + u'/' + layout.section(u'>', 0, 0);
        const QByteArray name = QFile::encodeName(path);
        bool made = QDir().mkpath(QFileInfo(path).path());
        switch (entry.at(0).unicode()) {
        case 'd':
            made = made && QDir().mkpath(path);
            break;
        case 'f':
            made = made && writeTestFile(path, layout.toUtf8());
            break;
        case 'p':
            made = made && ::mkfifo(name.constData(), 0644) == 0;
            break;
        case 's': {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            made = made && fd >= 0 && size_t(name.size()) < sizeof address.sun_path;
            if (made) {
                std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
                made = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
            }
            if (fd >= 0)
                ::close(fd);
            break;
        }
        case 'l':
            made = made && QFile::link(layout.section(u'>', 1), path);
            break;
        default:
            made = false;
        }
        if (!made)
            return false;
    }
    return true;
}

} // namespace

class TestSubmittedFile : public QObject
{
    Q_OBJECT

private slots:
    void kinds_data();
    void kinds();
    void copiesWhatWasOpened();
};

void TestSubmittedFile::kinds_data()
{
    // The player's folder is "p" below the contest; "outside/answer" lies
    // beside it, as the problem's data would.
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<SubmittedFile::Kind>("kind");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QByteArray>("content");

    using Kind = SubmittedFile::Kind;
    const QString none;
    QTest::newRow("regular file") << QStringList{u"f:p/sum/sum.c"_s} << u"sum/sum.c"_s
                                  << Kind::Regular << none << QByteArray("p/sum/sum.c");
    QTest::newRow("no sub-folder named") << QStringList{u"f:p/sum.c"_s} << u"/sum.c"_s
                                         << Kind::Regular << none << QByteArray("p/sum.c");
    QTest::newRow("missing") << QStringList{u"d:p/sum"_s} << u"sum/sum.c"_s << Kind::Missing
                             << none << QByteArray();
    QTest::newRow("sub-folder missing") << QStringList{} << u"sum/sum.c"_s << Kind::Missing
                                        << none << QByteArray();
    QTest::newRow("regular file on the way") << QStringList{u"f:p/sum"_s} << u"sum/sum.c"_s
                                             << Kind::Missing << none << QByteArray();
    QTest::newRow("link to another player's file")
        << QStringList{u"f:q/sum/sum.c"_s, u"d:p/sum"_s, u"l:p/sum/sum.c>../../q/sum/sum.c"_s}
        << u"sum/sum.c"_s << Kind::Link << u"sum/sum.c 是符号链接，不是普通文件"_s << QByteArray();
    QTest::newRow("link to the answers by an absolute path")
        << QStringList{u"f:outside/answer"_s, u"l:p/1.out>{root}/outside/answer"_s} << u"1.out"_s
        << Kind::Link << u"1.out 是符号链接，不是普通文件"_s << QByteArray();
    QTest::newRow("dangling link") << QStringList{u"l:p/1.out>/nonexistent/qxj"_s} << u"1.out"_s
                                   << Kind::Link << u"1.out 是符号链接，不是普通文件"_s
                                   << QByteArray();
    QTest::newRow("linked folder on the way")
        << QStringList{u"f:q/sum/sum.c"_s, u"l:p/sum>../q/sum"_s} << u"sum/sum.c"_s << Kind::Link
        << u"sum 是符号链接，不是普通文件"_s << QByteArray();
    QTest::newRow("directory") << QStringList{u"d:p/1.out"_s} << u"1.out"_s << Kind::Directory
                               << u"1.out 是目录，不是普通文件"_s << QByteArray();
    QTest::newRow("named pipe") << QStringList{u"d:p/a"_s, u"p:p/a/1.out"_s} << u"a/1.out"_s << Kind::Pipe
                                << u"a/1.out 是命名管道，不是普通文件"_s << QByteArray();
    QTest::newRow("socket") << QStringList{u"d:p"_s, u"s:p/s"_s} << u"s"_s << Kind::Special
                            << u"s 是设备或套接字，不是普通文件"_s << QByteArray();
    QTest::newRow("a name leading out of the folder")
        << QStringList{u"d:p"_s, u"f:outside/answer"_s} << u"../outside/answer"_s << Kind::Outside
        << u"../outside/answer 在选手目录之外，不是选手的文件"_s << QByteArray();
    QTest::newRow("player's folder itself a link")
        << QStringList{u"f:elsewhere/sum/sum.c"_s, u"l:p>elsewhere"_s} << u"sum/sum.c"_s
        << Kind::Regular << none << QByteArray("elsewhere/sum/sum.c");
    QTest::newRow("no name") << QStringList{u"d:p"_s} << u"/"_s << Kind::Missing << none
                             << QByteArray();
}

void TestSubmittedFile::kinds()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, relative);
    QFETCH(SubmittedFile::Kind, kind);
    QFETCH(QString, refusal);
    QFETCH(QByteArray, content);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    entries.replaceInStrings(u"{root}"_s, dir.path());
    QVERIFY(build(dir.path(), entries));
    const QStringList before = treeOf(dir.path());

    const SubmittedFile file(dir.filePath(u"p"_s), relative);
    QCOMPARE(file.kind(), kind);
    QCOMPARE(file.isRegular(), kind == SubmittedFile::Kind::Regular);
    QCOMPARE(file.refusal(), refusal);
    const QString copy = dir.filePath(u"copy"_s);
    QCOMPARE(file.copyTo(copy), file.isRegular());
    QByteArray bytes;
    QCOMPARE(file.read(1 << 20, bytes), file.isRegular());
    if (file.isRegular()) {
        QCOMPARE(file.size(), content.size());
        QCOMPARE(readTestFile(copy), content);
        QVERIFY(QFile::remove(copy));
        QCOMPARE(bytes, content);
        QVERIFY(file.read(3, bytes));
        QCOMPARE(bytes, content.left(3));
    } else {
        QVERIFY(bytes.isEmpty());
    }
    // Nothing is changed, nothing pointed to is read or touched.
    QCOMPARE(treeOf(dir.path()), before);
}

// The copy comes from the file opened, even when the name is then made a
// link to something else; it can be made again.
void TestSubmittedFile::copiesWhatWasOpened()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(build(dir.path(), {u"f:p/sum.c"_s, u"f:secret"_s}));
    SubmittedFile opened(dir.filePath(u"p"_s), u"sum.c"_s);
    QVERIFY(opened.isRegular());
    QVERIFY(QFile::rename(dir.filePath(u"p/sum.c"_s), dir.filePath(u"p/old.c"_s)));
    QVERIFY(QFile::link(dir.filePath(u"secret"_s), dir.filePath(u"p/sum.c"_s)));

    const SubmittedFile moved = std::move(opened);
    for (int round = 0; round < 2; ++round) {
        const QString copy = dir.filePath(u"copy"_s) + QString::number(round);
        QVERIFY(moved.copyTo(copy));
        QCOMPARE(readTestFile(copy), QByteArray("p/sum.c"));
    }
    QVERIFY(!opened.copyTo(dir.filePath(u"copy"_s)));
}

QTEST_GUILESS_MAIN(TestSubmittedFile)
#include "tst_submittedfile.moc"
