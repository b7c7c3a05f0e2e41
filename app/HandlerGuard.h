// Runs an event handler so that no exception ever reaches Qt's event loop: whatever escapes the
// handler ends it there and is shown in the plain error box, and the program goes on. A cancelled
// long operation ends the handler with the warning that says what the server was left with.
#pragma once

#include "ModalSeam.h"

#include "DbError.h"
#include "ErrorAdvice.h"
#include "LongOperation.h"
#include "ServerWait.h"

#include <exception>
#include <utility>

// What stopped a handler, told in the plain error box (a cancel with what it left, as a warning).
inline void tellWhatStopped(std::exception_ptr stopped) noexcept {
    try {
        std::rethrow_exception(stopped);
    } catch (const OperationCancelled& cancelled) {
        // Without a message the user gave up before anything was done: there is nothing to tell.
        if (!cancelled.message.isEmpty())
            modal::messageDialog(cancelled.message, DialogType::Warning, {DialogButton::OK});
    } catch (const DbError& e) {
        modal::errorBox(erroradvice::appended(modal::errorBoxText(e.message()), e));
    } catch (const std::exception& e) {
        modal::errorBox(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        modal::errorBox(QStringLiteral("Unknown error"));
    }
}

template <typename Handler> void guarded(Handler&& handler) noexcept {
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        // The window closed under a wait: whatever that left the handler with, nobody is left to
        // tell (and a message box would keep the program running).
        if (!serverwait::givenUpForGood())
            tellWhatStopped(std::current_exception());
    }
    longop::closeIfAsked();
}
