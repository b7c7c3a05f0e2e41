// Runs an event handler so that no exception ever reaches Qt's event loop: whatever escapes the
// handler ends it there and is shown in the plain error box, and the program goes on. A cancelled
// long operation ends the handler with the warning that says what the server was left with.
#pragma once

#include "ModalSeam.h"

#include "DbError.h"
#include "ErrorAdvice.h"
#include "LongOperation.h"

#include <exception>
#include <utility>

template <typename Handler> void guarded(Handler&& handler) noexcept {
    try {
        std::forward<Handler>(handler)();
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
    longop::closeIfAsked();
}
