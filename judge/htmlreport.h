#pragma once

#include "xmlfile.h"

#include <QMap>
#include <QString>
#include <QStringList>

class Contest;

// Rebuilds playerDir(player)/result.html from the player's stored result
// files, one block per problem in the given order.
void writeHtmlReport(const Contest &contest, const QString &player, const QStringList &problems,
                     const QMap<QString, XmlFile> *problemConfigs);
