// Finding the connection's socket and asking it, without a round trip, whether the server left.
#include "LinkSocket.h"

#include <cerrno>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace linksocket {

std::vector<int> streamSockets() {
    std::vector<int> found;
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds)
        return found;
    const int own = ::dirfd(fds);
    while (const dirent* entry = ::readdir(fds)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == own)
            continue;
        struct stat info {};
        int type = 0;
        socklen_t length = sizeof type;
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        if (::fstat(int(fd), &info) == 0 && S_ISSOCK(info.st_mode) &&
            ::getsockopt(int(fd), SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM &&
            ::getpeername(int(fd), reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0)
            found.push_back(int(fd));
    }
    ::closedir(fds);
    std::sort(found.begin(), found.end());
    return found;
}

int added(const std::vector<int>& before, const std::vector<int>& after) {
    std::vector<int> fresh;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(fresh));
    return fresh.size() == 1 ? fresh.front() : -1;
}

bool peerClosed(int socket) {
    pollfd watch{socket, POLLIN | POLLRDHUP, 0};
    if (::poll(&watch, 1, 0) != 1)
        return false;
    return (watch.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool closedWithin(int socket, int millis) {
    pollfd watch{socket, POLLRDHUP, 0};
    int ready;
    do
        ready = ::poll(&watch, 1, millis);
    while (ready < 0 && errno == EINTR);
    return ready == 1 && (watch.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

} // namespace linksocket
