#include "PathSpace.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <map>

namespace pathspace {

namespace {
std::string g_root;                 // host folder playing "/", empty: the host's own
std::map<char, std::string> g_drives; // upper-case letter -> host folder

// The canonical host form of a folder given at start-up, so that server() can recognise it.
std::string canonical(const std::string& folder) {
    char buffer[PATH_MAX];
    if (::realpath(folder.c_str(), buffer))
        return buffer;
    return folder;
}

// Names under the top, ".." never climbing above it, as the server's own file system resolves them.
std::vector<std::string> components(const std::string& rest, bool backslashes) {
    std::vector<std::string> parts;
    std::string part;
    auto flush = [&] {
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (char c : rest) {
        if (c == '/' || (backslashes && c == '\\'))
            flush();
        else
            part += c;
    }
    flush();
    return parts;
}

std::string under(const std::string& top, const std::vector<std::string>& parts) {
    std::string out = top == "/" ? "" : top;
    for (const std::string& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

bool inside(const std::string& path, const std::string& top, std::string& rest) {
    if (path == top) {
        rest.clear();
        return true;
    }
    if (path.size() > top.size() && path.compare(0, top.size(), top) == 0 && path[top.size()] == '/') {
        rest = path.substr(top.size() + 1);
        return true;
    }
    return false;
}
} // namespace

void setRoot(const std::string& hostFolder) {
    g_root = canonical(hostFolder);
}

std::string driveLetters() {
    std::string letters;
    for (const auto& drive : g_drives)
        letters += drive.first;
    return letters;
}

bool addDrive(char letter, const std::string& hostFolder) {
    if (!std::isalpha(static_cast<unsigned char>(letter)))
        return false;
    g_drives[char(std::toupper(static_cast<unsigned char>(letter)))] = canonical(hostFolder);
    return true;
}

bool windows() {
    return !g_drives.empty();
}

bool rooted() {
    return !g_root.empty() || windows();
}

bool driveLetterPath(const std::string& path) {
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
           (path[2] == '\\' || path[2] == '/');
}

bool absolute(const std::string& serverPath) {
    return windows() ? driveLetterPath(serverPath) : !serverPath.empty() && serverPath[0] == '/';
}

std::string host(const std::string& serverPath) {
    if (windows()) {
        if (!driveLetterPath(serverPath))
            return {};
        const auto drive = g_drives.find(char(std::toupper(static_cast<unsigned char>(serverPath[0]))));
        if (drive == g_drives.end())
            return {};
        return under(drive->second, components(serverPath.substr(3), true));
    }
    // SQL Server on Linux reads a "C:\" prefix as its root ("C:\SQLData\x.mdf" is /SQLData/x.mdf),
    // so that scripts written for Windows work where the folder exists; other letters name nothing.
    if (driveLetterPath(serverPath) && std::toupper(static_cast<unsigned char>(serverPath[0])) == 'C')
        return under(g_root.empty() ? "/" : g_root, components(serverPath.substr(3), true));
    if (driveLetterPath(serverPath) || serverPath.empty() || serverPath[0] != '/')
        return g_root.empty() && !driveLetterPath(serverPath) ? serverPath : std::string();
    if (g_root.empty())
        return serverPath;
    return under(g_root, components(serverPath, false));
}

std::string server(const std::string& hostPath) {
    const std::string path = canonical(hostPath);
    std::string rest;
    if (windows()) {
        for (const auto& [letter, folder] : g_drives) {
            if (!inside(path, folder, rest))
                continue;
            std::string out = std::string(1, letter) + ":\\";
            for (char c : rest)
                out += c == '/' ? '\\' : c;
            return out;
        }
        return {};
    }
    if (g_root.empty())
        return hostPath.empty() || hostPath[0] == '/' ? hostPath : path; // SQL Server names folders in full
    if (!inside(path, g_root, rest))
        return {};
    return "/" + rest;
}

char separator() {
    return windows() ? '\\' : '/';
}

std::string join(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    const char last = folder.back();
    if (last == '/' || (windows() && last == '\\'))
        return folder + name;
    return folder + separator() + name;
}

std::string parent(const std::string& serverPath) {
    const bool drive = windows() || driveLetterPath(serverPath); // C:\… on Linux too
    const size_t cut = drive ? serverPath.find_last_of("\\/") : serverPath.rfind('/');
    if (cut == std::string::npos)
        return {};
    if (cut == 0)
        return "/";
    if (drive && cut == 2)
        return serverPath.substr(0, 3); // "C:\"
    return serverPath.substr(0, cut);
}

} // namespace pathspace
