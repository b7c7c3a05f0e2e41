// Makes every round trip the window's thread starts (a statement, its reconnect, USE) wait as the
// connect does: on a worker, the window painting and answering, the wait shown after half a second
// with its Cancel. Installed for as long as the object lives.
#pragma once

#include "RoundTrip.h"

#include <QPointer>
#include <QString>
#include <functional>

class QWidget;

class RoundTripWait {
public:
    // serverName: the server the window talks to now, for the wait's dialog.
    RoundTripWait(QWidget* window, std::function<QString()> serverName);
    ~RoundTripWait();
    RoundTripWait(const RoundTripWait&) = delete;
    RoundTripWait& operator=(const RoundTripWait&) = delete;

private:
    roundtrip::Waiter m_before;
};
