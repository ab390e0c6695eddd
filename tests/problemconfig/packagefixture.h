#pragma once

// A problem package of our own making, laid out as preparation platforms
// export them: A+B on standard input and output, four tests in two groups,
// a testlib-style checker under files/ beside our stand-in testlib.h.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace packagefixture {

inline bool write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray sourceFile(const char *relative)
{
    QFile file(QStringLiteral(QXJ_SOURCE_DIR "/") + QString::fromLatin1(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Test k (1-based): its input and the answer.
inline const char *const Inputs[] = {"1 2\n", "2 2\n", "5 7\n", "100 200\n"};
inline const char *const Answers[] = {"3\n", "4\n", "12\n", "300\n"};

// Group 1 counts whole (20 points); group 2 gives each test its 40.
inline const QByteArray ProblemXml = R"(<?xml version="1.0" encoding="utf-8" standalone="no"?>
<problem revision="3" short-name="sum" url="https://example.org/p/sum">
    <names>
        <name language="chinese" value="求和"/>
        <name language="english" value="Sum"/>
    </names>
    <judging cpu-name="Intel(R) Core(TM) i3-8100 CPU @ 3.60GHz" cpu-speed="3600" input-file="" output-file="">
        <testset name="tests">
            <time-limit>1000</time-limit>
            <memory-limit>268435456</memory-limit>
            <test-count>4</test-count>
            <input-path-pattern>tests/%02d</input-path-pattern>
            <answer-path-pattern>tests/%02d.a</answer-path-pattern>
            <tests>
                <test method="manual" points="10.0" group="1" sample="true"/>
                <test method="manual" points="10.0" group="1"/>
                <test method="generated" cmd="gen 5 7" points="40.0" group="2"/>
                <test method="generated" cmd="gen 100 200" points="40.0" group="2"/>
            </tests>
            <groups>
                <group feedback-policy="complete" name="1" points="20.0" points-policy="complete-group"/>
                <group feedback-policy="icpc" name="2" points-policy="each-test"/>
            </groups>
        </testset>
    </judging>
    <files>
        <resources>
            <file path="files/testlib.h" type="h.g++"/>
        </resources>
    </files>
    <assets>
        <checker name="std::ncmp.cpp" type="testlib">
            <source path="files/check.cpp" type="cpp.g++17"/>
            <binary path="check.exe" type="exe.win32"/>
            <testset>
                <test-count>0</test-count>
                <input-path-pattern>files/tests/checker-tests/%02d</input-path-pattern>
                <tests/>
            </testset>
        </checker>
        <validators>
            <validator>
                <source path="files/val.cpp" type="cpp.g++17"/>
            </validator>
        </validators>%1
    </assets>
</problem>
)";

inline const QByteArray InteractorAsset = R"(
        <interactor>
            <source path="files/interactor.cpp" type="cpp.g++17"/>
        </interactor>)";

// A validator, which includes testlib.h as checkers do but is none.
inline const QByteArray Validator = R"(#include "testlib.h"
int main(int argc, char *argv[]) {
    registerValidation(argc, argv);
    return 0;
}
)";

inline const QByteArray Interactor = R"(#include "testlib.h"
int main(int argc, char *argv[]) {
    registerInteraction(argc, argv);
    return 0;
}
)";

// The package in dir; with an interactor, problem.xml names files/interactor.cpp.
inline bool writePackage(const QString &dir, bool interactor = false)
{
    bool ok = true;
    for (int k = 0; k < 4; ++k) {
        const QString test = dir + QStringLiteral("/tests/%1").arg(k + 1, 2, 10, QLatin1Char('0'));
        ok = ok && write(test, Inputs[k]) && write(test + QStringLiteral(".a"), Answers[k]);
    }
    QByteArray xml = ProblemXml;
    xml.replace("%1", interactor ? InteractorAsset : QByteArray());
    const QByteArray checker = sourceFile("tests/programs/testlibsum.cpp");
    const QByteArray testlib = sourceFile("tests/programs/minitestlib.h");
    ok = ok && !checker.isEmpty() && !testlib.isEmpty();
    ok = ok && write(dir + QStringLiteral("/problem.xml"), xml)
         && write(dir + QStringLiteral("/files/check.cpp"), checker)
         && write(dir + QStringLiteral("/files/testlib.h"), testlib)
         && write(dir + QStringLiteral("/files/val.cpp"), Validator);
    if (interactor)
        ok = ok && write(dir + QStringLiteral("/files/interactor.cpp"), Interactor);
    return ok;
}

}  // namespace packagefixture
