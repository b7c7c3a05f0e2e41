// Ukrainian captions for the message dialog, installed once at start-up before any window exists.
#pragma once

#include <QString>

extern const QString DialogTypeCaptions[5];
extern const QString DialogButtonCaptions[11];

// Gives the message dialogs these captions in place of their English ones.
void InstallDialogCaptions();
