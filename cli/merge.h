#pragma once

#include <QString>

class Contest;

// qxj-judge --merge: after the shards, the result list (and with exportPath
// the score table) rebuilt from the result files alone. Prints where each
// shard ran and warns when their machines do not compare; names every cell
// without a usable result file. Writes a file only when its content changes.
// Returns the exit status: 0 when every cell has its result, 1 otherwise or
// when a file could not be written.
int mergeResults(Contest &contest, const QString &exportPath);
