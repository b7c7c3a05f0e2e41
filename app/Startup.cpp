#include "Startup.h"

#include "Version.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void configureApplication(QApplication& app) {
    // The FreeTDS driver links GnuTLS, which by default sets itself up (system trust store, PKCS#11
    // modules) as soon as it is loaded: half a megabyte and some milliseconds on every connection,
    // spent even though we never encrypt. FreeTDS sets GnuTLS up itself before it starts TLS, so
    // nothing is lost. A value the user has set is left alone.
    if (!qEnvironmentVariableIsSet("GNUTLS_NO_IMPLICIT_INIT"))
        qputenv("GNUTLS_NO_IMPLICIT_INIT", "1");
    QApplication::setApplicationName(QStringLiteral("Zelvaro"));
    QApplication::setApplicationDisplayName(QStringLiteral("Zelvaro"));
    QApplication::setApplicationVersion(QStringLiteral(ZELVARO_VERSION));
    auto* qtTranslations = new QTranslator(&app);
    if (qtTranslations->load(QLocale(QLocale::Ukrainian), QStringLiteral("qtbase"), QStringLiteral("_"),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(qtTranslations);
}
