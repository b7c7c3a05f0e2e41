// The one way the window waits for the server outside a long operation's statement (the connect
// first): the work runs on a thread of its own while the window keeps painting and answering, its
// controls disabled; a wait longer than about half a second shows the progress dialog of long
// operations, its bar running without a share, with its Cancel.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace serverwait {

// A round trip quicker than this shows nothing.
inline constexpr int kShowAfterMs = 500;

// Runs job on a worker thread and returns true once it has ended. Cancel (the button, Esc) or the
// application quitting returns false at once, without waiting for the job: it runs on unobserved,
// so it must own all it touches (shared pointers), and whatever it comes to is dropped with it.
// title and subject are the dialog's lines: "Підключення до сервера", "Сервер: ...".
// A wait may start while another one's loop runs (a timer's handler asks the server): it runs
// its own job and loop, and the outer wait ends once the inner one has.
// When tests hear of the dialog (modal::progressOpened): as it is made, or only if it shows.
enum class Announce { Always, WhenShown };
bool run(QWidget* window, const QString& title, const QString& subject, std::function<void()> job,
         Announce announce = Announce::Always);

bool isWaiting();
// Gives up every wait in progress, as their Cancel does (the window is being closed).
void giveUp();
// The window closes: every wait in progress is given up, and every wait started from here on is
// given up at once, until a window opens again (reopen). Handlers interrupted this way end quietly:
// there is no window left to tell, and a message box would keep the program running.
void giveUpForGood();
bool givenUpForGood();
void reopen();

} // namespace serverwait
