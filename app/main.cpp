// Zelvaro: start-up in the order the window relies on.
#include "FMain.h"
#include "ModalSeam.h"
#include "RusUkrDlg.h"
#include "Startup.h"

#include "DbError.h"

#include <QApplication>

int main(int argc, char** argv) {
    // The dialog captions are Ukrainian before any window exists.
    InstallDialogCaptions();

    QApplication app(argc, argv);
    configureApplication(app);

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
