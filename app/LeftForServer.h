// What Zelvaro has opened or left on this computer for the server's account (ACL entries, copies,
// shared folders), as the journal lists it: taken back at start for runs that ended without doing
// it themselves and at exit for this one, and told to the user with the command that takes each back.
//
//   leftforserver::takeBackWhatWasLeft(false); // at start: ended runs' grants and empty folders
//   leftforserver::takeBackWhatWasLeft(true);  // at exit: this run's too
//   modal::messageDialog(leftforserver::whatIsOpenText(), ...);
//
// What the user chose to keep (lasting: an attached database's copies) is only listed. A copy that
// is not lasting is not removed either: a run that ended in the middle of an attach may have left
// the server using it; it is told, and the user removes it.
#pragma once

#include "Journal.h"

#include <QString>

class QPushButton;
class QWidget;

namespace leftforserver {

void takeBackWhatWasLeft(bool includingThisRun);

// The shell command that takes the entry back, as the user would type it.
QString undoCommand(const ops::JournalEntry& entry);

// Every grant, copy and folder open for the server's account now, each with its undo command; a
// line saying there is none when there is none.
QString whatIsOpenText();

// The left panel's button that shows whatIsOpenText (through the modal seam).
QPushButton* addWhatIsOpenButton(QWidget* panel);

} // namespace leftforserver
