// The next random step of a session: mostly what a user can do on the page in front of them,
// sometimes what the world does; drawn from pools of good, existing, new and hostile values.
#pragma once

#include "Steer.h"
#include "Step.h"

#include <QRandomGenerator>
#include <QSet>

namespace explore {

class Session;

// The names ZELVARO_EXPLORE_ACTIONS takes: connect, settings, page, type, pick, select, press,
// close, restart, cut, behind-detach, behind-drop, change-bak, junk, stop, hold.
QStringList actionNames();

Step generate(QRandomGenerator& random, const Session& session, const QSet<QString>& allowed, Steering& steering);

// A step of the given kind with values drawn from the pools, as the window now stands.
Step withValues(Act act, QRandomGenerator& random, const Session& session);

} // namespace explore
