// Counts what reaches a widget through the event loop: a window that repaints and takes keys
// while it waits for the server is alive.
#pragma once

#include <QEvent>
#include <QObject>

struct EventCounter : QObject {
    int paints = 0;
    int keys = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        else if (event->type() == QEvent::KeyPress)
            ++keys;
        return QObject::eventFilter(watched, event);
    }
};
