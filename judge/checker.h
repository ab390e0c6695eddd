#pragma once

#include <QByteArray>
#include <QString>

// Reads a checker's verdict (lines 1 and 2 as raw GB18030 bytes) into a state,
// a ratio and a note, exactly as runChecker does after the checker ended.
void parseVerdict(const QByteArray &line1, const QByteArray &line2, QString &note, char &state,
                  double &ratio);
// The same on lines already trimmed and decoded.
void parseVerdictText(const QString &line1, const QString &line2, QString &note, char &state,
                      double &ratio);
