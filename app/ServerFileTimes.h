// When the server last wrote one of its files, as the server itself tells: the file's path is the
// server's, which this computer may not see at all (a container, another machine), or see as
// another file.
#pragma once

#include "ServerFiles.h"

#include <QString>

class AdoQuery;

namespace serverfiletimes {

// The file's last write time from sys.dm_os_enumerate_filesystem (2017 on), as the server sent it;
// empty when the version has no such function or the server lists no such file. Throws DbError
// when the server cannot be asked.
QString lastWritten(AdoQuery& query, int majorVersion, const QString& path, serverfiles::Platform platform);

} // namespace serverfiletimes
