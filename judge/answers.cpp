#include "testcore.h"

// Temporary until answer-submission judging lands.
bool TestCore::judgeAnswerProblem()
{
    resetResultDoc();
    return failProblem(TaskState::JudgeError, QStringLiteral("answer judging not built yet"));
}
