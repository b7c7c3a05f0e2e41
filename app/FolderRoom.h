// The free room of the volume a folder is on, from whoever can tell that very volume's: the file
// system itself when the server shares this computer's, else the server. A folder on a disk of its
// own (a small separate disk mounted somewhere) must never be measured by another volume's figure.
#pragma once

#include "ServerQuestions.h"

#include <QString>

class AdoQuery;

namespace folderroom {

// Free bytes of the volume that holds `folder` (as the server names it); -1 when nobody can tell.
// sharesThisComputer: the server runs here and sees this computer's files, so the folder's own
// file system answers (statvfs); the server is asked when it does not, or the folder cannot be
// looked at from here. Throws DbError when the server must be asked and cannot be.
qint64 freeBytes(AdoQuery& query, const serverquestions::ServerVersion& v, const QString& folder,
                 bool sharesThisComputer);

// The confirmation's line when nobody can tell: the room could not be checked. `needed` as the
// page says sizes ("3,0 МБ").
QString notChecked(const QString& folder, const QString& needed);

} // namespace folderroom
