// Zelvaro: start-up in the order the window relies on.
#include "FMain.h"
#include "ModalSeam.h"
#include "RusUkrDlg.h"

#include "DbError.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char** argv) {
    // The dialog captions are Ukrainian before any window exists.
    InstallDialogCaptions();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zelvaro"));
    QApplication::setApplicationDisplayName(QStringLiteral("Zelvaro"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.2.0"));

    // Qt's own dialogs (file and folder pickers) speak Ukrainian too.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Ukrainian), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTranslator);

    std::unique_ptr<TMain> window;
    try {
        window = std::make_unique<TMain>();
    } catch (const DbError& e) {
        modal::errorBox(e.message());
        return 1;
    }
    window->show();
    return app.exec();
}
