// Opening the window's connection without freezing the window: the login runs on a worker thread.
#pragma once

#include <QString>

class AdoConnection;
class QWidget;

namespace connectwait {

// Opens the connection as AdoConnection::open() does, the window alive meanwhile. True when open;
// false when the user gave up waiting (the connection stays closed, and the login, which may go on
// in the background, is dropped whatever it comes to). Throws the login's DbError.
bool open(QWidget* window, AdoConnection& connection, const QString& serverName);

} // namespace connectwait
