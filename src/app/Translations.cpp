#include "Translations.h"

#include "AppLogging.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void installTranslations()
{
    // The program's catalogues are compiled into the library as a resource.
    Q_INIT_RESOURCE(translations);

    const QLocale locale;
    auto* qtTranslator = new QTranslator(QCoreApplication::instance());
    if (qtTranslator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                           QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTranslator);
    else
        delete qtTranslator;

    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(locale, QStringLiteral("zentu"), QStringLiteral("_"),
                         QStringLiteral(":/translations"))) {
        QCoreApplication::installTranslator(translator);
        qCDebug(lcApp) << "translation loaded for" << locale.name();
    } else {
        delete translator;
    }
}
