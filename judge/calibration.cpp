#include "calibration.h"

#include "dirs.h"
#include "judgestate.h"
#include "runner.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

double calibrate(const QString &program, const QString &workDir, int runs, QString &error)
{
    if (!QFileInfo(program).isExecutable()) {
        error = u"校准程序不存在: "_s + QFileInfo(program).fileName();
        return -1.0;
    }
    makePath(workDir);
    const QString exeName = QFileInfo(program).fileName();
    double least = -1.0;
    for (int run = 0; run < runs; ++run) {
        if (!emptyScratchDir(workDir) || !copyWritable(program, workDir + u'/' + exeName)) {
            error = u"无法准备校准目录"_s;
            least = -1.0;
            break;
        }
        JudgeState judge;
        double time = 0.0;
        double memory = 0.0;
        char state = 0;
        QString note;
        if (!runProgram(judge, workDir, exeName, time, memory, state, note, 10.0, 64.0)) {
            error = u"校准程序运行失败: "_s + note;
            least = -1.0;
            break;
        }
        if (least < 0 || time < least)
            least = time;
    }
    emptyScratchDir(workDir);
    QDir().rmdir(workDir);
    return least;
}
