#pragma once

class QProcess;

// The child is killed when the thread that started it ends, so that a
// judge that is killed leaves no comparison running behind it.
void endWithParent(QProcess &process);
