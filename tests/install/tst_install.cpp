// The installed tree: cmake --install into a temporary prefix, its programs
// run from elsewhere, and the Debian package made of the same files.

#include "clitestutil.h"

#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
};

Run run(const QString &program, const QStringList &arguments, const QString &workDir = {})
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAll())};
}

// "player/problem/score/state" of every cell in the result list: the time
// field varies from run to run.
QStringList scores(const QString &contest)
{
    QStringList cells = QString::fromUtf8(readTestFile(contest + u"/result/.reslist"_s)).split(u'\n');
    for (QString &cell : cells)
        cell = cell.section(u'/', 0, 2) + u'/' + cell.section(u'/', 4);
    return cells;
}

}  // namespace

// Skipped where a tool is missing, except in CI (QXJ_CI), which installs them all.
#define REQUIRE_TOOL(tool)                                                                         \
    if (QStandardPaths::findExecutable(QStringLiteral(tool)).isEmpty()) {                         \
        if (qEnvironmentVariableIsSet("QXJ_CI"))                                                   \
            QFAIL(tool " is not installed");                                                       \
        QSKIP(tool " is not installed (scripts/deps.sh installs it)");                             \
    }

class TestInstall : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    QString installed(const QString &path) const { return m_work.filePath(u"prefix/"_s + path); }

private slots:
    void initTestCase()
    {
        // Nothing here may need a display.
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            qunsetenv(name);
        QVERIFY(m_work.isValid());
        const Run install = run(QStringLiteral(QXJ_CMAKE), {u"--install"_s, QStringLiteral(QXJ_BUILD_DIR),
                                                           u"--prefix"_s, installed({})});
        QVERIFY2(install.exitCode == 0, qPrintable(install.out));
    }

    // Started from a folder that is neither the build tree nor the prefix,
    // the installed judge finds its checker and scores as the built one.
    void judgeFromElsewhere()
    {
        for (const QString &side : {u"built"_s, u"installed"_s}) {
            QVERIFY(copyTree(QStringLiteral(QXJ_SAMPLE), m_work.filePath(side + u"/contest"_s)));
            const QString judge = side == u"built"_s ? QStringLiteral(QXJ_JUDGE) : installed(u"bin/qxj-judge"_s);
            const Run judged = run(judge, {u"contest"_s}, m_work.filePath(side));
            QVERIFY2(judged.exitCode == 0, qPrintable(judged.out));
        }
        const QStringList built = scores(m_work.filePath(u"built/contest"_s));
        QVERIFY(built.size() > 1);
        QCOMPARE(scores(m_work.filePath(u"installed/contest"_s)), built);
    }

    // The installed judge times its machine with the installed qxj-calibrate.
    void shardFromElsewhere()
    {
        QVERIFY(copyTree(QStringLiteral(QXJ_SAMPLE), m_work.filePath(u"shard/contest"_s)));
        const Run judged = run(installed(u"bin/qxj-judge"_s), {u"--shard"_s, u"0/1"_s, u"contest"_s},
                               m_work.filePath(u"shard"_s));
        QVERIFY2(judged.exitCode == 0, qPrintable(judged.out));
        static const QRegularExpression measured(u"^shard 0/1: 7 players on .*, calibration \\d+\\.\\d ms$"_s,
                                                 QRegularExpression::MultilineOption);
        QVERIFY2(measured.match(judged.out).hasMatch(), qPrintable(judged.out));
    }

    void withoutDisplay_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("outputStart");
        const QString version = QStringLiteral(QXJ_VERSION);
        QTest::newRow("qxj --version") << u"qxj --version"_s << u"qxj "_s + version + u'\n';
        QTest::newRow("qxj --help") << u"qxj --help"_s << u"Usage: qxj"_s;
        QTest::newRow("qxj-judge --version") << u"qxj-judge --version"_s << u"qxj-judge "_s + version + u'\n';
    }

    void withoutDisplay()
    {
        QFETCH(QString, command);
        QFETCH(QString, outputStart);
        const Run shown = run(installed(u"bin/"_s + command.section(u' ', 0, 0)), {command.section(u' ', 1)});
        QCOMPARE(shown.exitCode, 0);
        QVERIFY2(shown.out.startsWith(outputStart), qPrintable(shown.out));
    }

    void desktopEntry()
    {
        REQUIRE_TOOL("desktop-file-validate");
        const Run validated = run(u"desktop-file-validate"_s, {installed(u"share/applications/qxj.desktop"_s)});
        // A hint (two main categories) is fine; errors and warnings are not.
        QVERIFY2(validated.exitCode == 0 && !validated.out.contains(u"error:"_s)
                     && !validated.out.contains(u"warning:"_s), qPrintable(validated.out));
        // Its icon, Icon=qxj, at every size.
        for (const int size : {16, 32, 48, 128, 256})
            QCOMPARE(QImageReader(installed(u"share/icons/hicolor/%1x%1/apps/qxj.png"_s.arg(size))).size(),
                     QSize(size, size));
    }

    // The package holds exactly what cmake --install puts under the prefix.
    void debianPackage()
    {
        REQUIRE_TOOL("dpkg-shlibdeps");
        REQUIRE_TOOL("file");
        const QString out = m_work.filePath(u"package"_s);
        const Run packed = run(QStringLiteral(QXJ_CPACK), {u"-G"_s, u"DEB"_s, u"-B"_s, out},
                               QStringLiteral(QXJ_BUILD_DIR));
        QVERIFY2(packed.exitCode == 0, qPrintable(packed.out));
        const QStringList debs = QDir(out).entryList({u"qxj_*.deb"_s});
        QCOMPARE(debs.size(), 1);
        const QString deb = out + u'/' + debs.first();

        QStringList packaged;
        // "-rwxr-xr-x root/root 672992 2024-01-01 00:00 ./usr/bin/qxj"
        for (const QString &line : run(u"dpkg-deb"_s, {u"-c"_s, deb}).out.split(u'\n', Qt::SkipEmptyParts)) {
            if (const QString path = line.section(u" ./usr/"_s, 1); !path.isEmpty())
                packaged.append(path.endsWith(u'/') ? path.chopped(1) : path);
        }
        packaged.sort();
        QCOMPARE(packaged, treeOf(installed({})));

        const QString control = run(u"dpkg-deb"_s, {u"-I"_s, deb}).out;
        for (const QString &field : {u" Package: qxj\n"_s, u" Version: "_s + QStringLiteral(QXJ_VERSION) + u'\n',
                                     u" Recommends: g++, fp-compiler, fonts-noto-cjk\n"_s, u" Maintainer: "_s,
                                     u"libqt6widgets6"_s, u"qt6-qpa-plugins"_s, u"similarity-tester"_s,
                                     u"libqt6charts6"_s, u"libqt6svg6"_s, u"qt6-translations-l10n"_s})
            QVERIFY2(control.contains(field), qPrintable(field + u" not in\n"_s + control));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
