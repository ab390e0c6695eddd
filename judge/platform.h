#pragma once

#include <QString>

// Suffix of the executables the judge builds and looks up: a program built
// from a source is the configured "file" + suffix, a checker its name + suffix.
inline const QString ExecutableSuffix = QString();  // ".exe" on Windows
