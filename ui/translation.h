#pragma once

#include <QList>
#include <QLocale>

// Qt's own texts (file dialogs, standard buttons, the context menus of text
// fields) in Chinese, as every other text of the window is.

// The locales whose Qt translation to try, in order: the system's own when
// it is a Chinese one, then zh_CN. Any other language would put its words
// into a Chinese window.
QList<QLocale> qtTranslationLocales(const QLocale &system);

// Installs Qt's translation for the first of those locales found in Qt's
// translations folder, with the few texts it lacks, and makes that locale
// the default one when the system's is not Chinese; false when none was.
bool installQtTranslation();
