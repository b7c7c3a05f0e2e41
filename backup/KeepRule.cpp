#include "KeepRule.h"

#include <algorithm>

namespace backupcmd {

QStringList beyondKeep(QList<OlderBackup> older, int keep) {
    std::stable_sort(older.begin(), older.end(),
                     [](const OlderBackup& a, const OlderBackup& b) { return a.finished > b.finished; });
    QStringList names;
    for (qsizetype i = std::max(keep - 1, 0); i < older.size(); ++i)
        names.append(older[i].name);
    return names;
}

} // namespace backupcmd
