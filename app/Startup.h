// What the application object needs before the main window exists.
#pragma once

class QApplication;

// Names the application "Zelvaro" (the caption of simple messages and error boxes), makes its
// locale and Qt's own dialogs Ukrainian, and keeps Qt's settings (the file dialog's history) out of
// the home folder. The dialog captions (InstallDialogCaptions) come earlier still.
void configureApplication(QApplication& app);
