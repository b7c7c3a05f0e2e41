#include "RunAs.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace runas {

namespace {
// The folder and everything below it, without following links out of it.
bool chownTree(const std::string& path, uid_t uid, gid_t gid) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    if (::lchown(path.c_str(), uid, gid) != 0)
        return false;
    if (!S_ISDIR(st.st_mode))
        return true;
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return false;
    bool ok = true;
    while (const dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name != "." && name != "..")
            ok = chownTree(path + "/" + name, uid, gid) && ok;
    }
    ::closedir(dir);
    return ok;
}
} // namespace

bool makeFolders(const std::string& folder) {
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool become(const std::string& user, const std::vector<std::string>& owned, std::string& problem) {
    errno = 0;
    const passwd* account = ::getpwnam(user.c_str());
    if (!account) {
        problem = "no such account";
        return false;
    }
    const uid_t uid = account->pw_uid;
    const gid_t gid = account->pw_gid;
    const std::string name = account->pw_name;
    if (::geteuid() != 0 && ::geteuid() != uid) {
        problem = "only root can become another account";
        return false;
    }
    for (const std::string& path : owned) {
        // The statement log is written by the account from now on: it must exist to be handed over.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0)
            ::close(fd);
        if (::geteuid() == 0 && !chownTree(path, uid, gid)) {
            problem = "cannot hand " + path + " to the account: " + std::strerror(errno);
            return false;
        }
    }
    if (::geteuid() == 0 &&
        (::initgroups(name.c_str(), gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
        problem = std::strerror(errno);
        return false;
    }
    if (::getuid() != uid || ::geteuid() != uid || ::getgid() != gid || ::getegid() != gid ||
        (uid != 0 && ::setuid(0) == 0)) {
        problem = "the account's ids did not hold";
        return false;
    }
    return true;
}

bool canUse(const std::string& folder, std::string& problem) {
    if (::access(folder.c_str(), R_OK | W_OK | X_OK) == 0)
        return true;
    std::string closed = folder;
    for (size_t at = 1; at < folder.size(); ++at) {
        if (folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (::access(part.c_str(), X_OK) != 0) {
            closed = part;
            break;
        }
    }
    problem = "the account cannot use its data folder " + folder + " (" + closed + ": " +
              std::strerror(errno) + ")";
    return false;
}

} // namespace runas
