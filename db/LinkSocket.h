// The connection's own TCP socket, found by what a connect adds to the process's sockets, and
// whether the server has closed it: known without sending anything, so a statement is never
// written into a link the server has already left (a restarted server, say).
#pragma once

#include <vector>

namespace linksocket {

// The process's connected stream sockets, by descriptor, in ascending order.
std::vector<int> streamSockets();
// The one stream socket in `after` that is not in `before`; -1 when there is none or several.
int added(const std::vector<int>& before, const std::vector<int>& after);
// Whether the other end has closed the socket (or it failed). Does not block; reads nothing.
bool peerClosed(int socket);
// Whether the other end closes the socket within millis (at once when it already has). Reads nothing.
bool closedWithin(int socket, int millis);

} // namespace linksocket
