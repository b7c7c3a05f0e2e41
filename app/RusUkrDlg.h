// Ukrainian captions for the message dialog, installed once at start-up before any window exists.
#pragma once

#include <QString>

extern const QString DialogTypeCaptions[5];
extern const QString DialogButtonCaptions[11];

// Finds the dialog module's English caption tables by their contents and overwrites them. When a
// table is not found the dialogs keep their English captions; nothing is reported.
void InstallDialogCaptions();
