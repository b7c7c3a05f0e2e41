// Where the stand-in's files are, as the server sees them. By default the server's paths are the
// host's. With a root (--root DIR) a folder plays the server's whole file system, as in a
// container: "/var/opt/mssql/data/x.mdf" is DIR/var/opt/mssql/data/x.mdf and a host path means
// nothing. With drives (--drive C=DIR) the server plays Windows: "C:\SQLData\x.mdf" is
// DIR/SQLData/x.mdf. The engine deals only in the server's paths; every file operation turns them
// into the host's here first.
#pragma once

#include <string>
#include <vector>

namespace pathspace {

// Set up once at start-up, before any session runs.
void setRoot(const std::string& hostFolder);
bool addDrive(char letter, const std::string& hostFolder);
bool windows(); // drives were given: paths are C:\…
bool rooted();  // a root or drives: host paths mean nothing to the server

// The host path of a server path; empty when the path cannot name anything on this server (a
// drive letter on a POSIX server, a drive it does not have, a relative path).
std::string host(const std::string& serverPath);
// The server path of a host path inside the space; empty when the host path is outside it.
std::string server(const std::string& hostPath);

// Whether a path is absolute in the server's form: "/…" on POSIX, "X:\…" or "X:/…" on Windows.
bool absolute(const std::string& serverPath);
// A drive-letter path, "C:\…" or "C:/…", whatever the server plays.
bool driveLetterPath(const std::string& path);
char separator();
std::string join(const std::string& folder, const std::string& name);
// The folder a server path names its file in, without the final separator; "" for a bare name.
std::string parent(const std::string& serverPath);

} // namespace pathspace
