#pragma once

#include <QString>

// Empties one of the judge's scratch directories completely, keeping it.
// clearDir leaves hidden entries (and the directories that hold them), and
// nothing a contestant's program wrote may reach the next point or player or
// block the emptying for good. False when something stays.
bool emptyScratchDir(const QString &path);
