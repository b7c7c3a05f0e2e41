// What the application object needs before the main window exists.
#pragma once

class QApplication;

// Names the application "Zelvaro" (the caption of simple messages and error boxes) and makes
// Qt's own dialogs speak Ukrainian. The dialog captions (InstallDialogCaptions) come earlier still.
void configureApplication(QApplication& app);
