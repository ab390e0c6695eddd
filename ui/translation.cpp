#include "translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// A few texts Qt's Chinese translations lack (the file dialog's type column).
class MissingQtTexts : public QTranslator
{
public:
    explicit MissingQtTexts(bool traditional, QObject *parent)
        : QTranslator(parent), m_traditional(traditional)
    {
    }

    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return QString();
        if (qstrcmp(sourceText, "Folder") == 0)
            return m_traditional ? QStringLiteral("資料夾") : QStringLiteral("文件夹");
        if (qstrcmp(sourceText, "Shortcut") == 0)
            return m_traditional ? QStringLiteral("捷徑") : QStringLiteral("快捷方式");
        if (qstrcmp(sourceText, "Drive") == 0)
            return m_traditional ? QStringLiteral("磁碟機") : QStringLiteral("驱动器");
        return QString();
    }

    bool isEmpty() const override { return false; }

private:
    bool m_traditional;
};

}  // namespace

QList<QLocale> qtTranslationLocales(const QLocale &system)
{
    const QLocale simplified(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China);
    QList<QLocale> locales;
    if (system.language() == QLocale::Chinese && system != simplified)
        locales.append(system);
    locales.append(simplified);
    return locales;
}

bool installQtTranslation()
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto *translator = new QTranslator(QCoreApplication::instance());
    for (const QLocale &locale : qtTranslationLocales(QLocale::system())) {
        if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder))
            continue;
        // File types and the like follow the default locale: the same as the texts.
        if (QLocale::system().language() != QLocale::Chinese)
            QLocale::setDefault(locale);
        QCoreApplication::installTranslator(
            new MissingQtTexts(locale.script() == QLocale::TraditionalHanScript, QCoreApplication::instance()));
        return QCoreApplication::installTranslator(translator);
    }
    delete translator;
    return false;
}
