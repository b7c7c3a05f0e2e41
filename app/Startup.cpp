#include "Startup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void configureApplication(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("Zelvaro"));
    QApplication::setApplicationDisplayName(QStringLiteral("Zelvaro"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.2.0"));
    auto* qtTranslations = new QTranslator(&app);
    if (qtTranslations->load(QLocale(QLocale::Ukrainian), QStringLiteral("qtbase"), QStringLiteral("_"),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(qtTranslations);
}
