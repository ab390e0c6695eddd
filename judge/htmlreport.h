#pragma once

#include "xmlfile.h"

#include <QMap>
#include <QString>
#include <QStringList>

class Contest;

// playerDir(player)/result.html
QString htmlReportPath(const Contest &contest, const QString &player);

// Rebuilds the player's report from the player's stored result files, one
// block per problem in the given order. False when it could not be written.
bool writeHtmlReport(const Contest &contest, const QString &player, const QStringList &problems,
                     const QMap<QString, XmlFile> *problemConfigs);
