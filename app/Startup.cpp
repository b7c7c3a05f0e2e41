#include "Startup.h"

#include "Version.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <QTranslator>

namespace {
// Qt's file dialog keeps its history (the folders visited, the view) as settings of the
// organisation "QtProject" in the user's settings folder. Zelvaro keeps nothing: every user-scope
// setting goes into a folder of this run's own, in memory where the system gives a runtime folder
// (XDG_RUNTIME_DIR), removed with the application object.
class RunSettingsFolder : public QObject {
public:
    explicit RunSettingsFolder(QObject* parent) : QObject(parent), m_folder(base() + "/zelvaro-XXXXXX") {
        if (m_folder.isValid())
            for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
                QSettings::setPath(format, QSettings::UserScope, m_folder.path());
    }

private:
    static QString base() {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        return !runtime.isEmpty() && QFileInfo(runtime).isDir() ? runtime : QDir::tempPath();
    }
    QTemporaryDir m_folder;
};
} // namespace

void configureApplication(QApplication& app) {
    // The FreeTDS driver links GnuTLS, which by default sets itself up (system trust store, PKCS#11
    // modules) as soon as it is loaded: half a megabyte and some milliseconds on every connection,
    // spent even though we never encrypt. FreeTDS sets GnuTLS up itself before it starts TLS, so
    // nothing is lost. A value the user has set is left alone.
    if (!qEnvironmentVariableIsSet("GNUTLS_NO_IMPLICIT_INIT"))
        qputenv("GNUTLS_NO_IMPLICIT_INIT", "1");
    // The application title, read back as applicationDisplayName(). It is deliberately not set as
    // the display name: on X11 Qt appends a set display name to every window title.
    QApplication::setApplicationName(QStringLiteral("Zelvaro"));
    QApplication::setApplicationVersion(QStringLiteral(ZELVARO_VERSION));
    new RunSettingsFolder(&app);
    // Ukrainian whatever the system's language: numbers, sizes, dates, the names of file types, and
    // Qt's own texts (the package requires their translations).
    QLocale::setDefault(QLocale(QLocale::Ukrainian, QLocale::Ukraine));
    auto* qtTranslations = new QTranslator(&app);
    if (qtTranslations->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(qtTranslations);
}
