// The edition's limit on one database's data: Express refuses a restore, an attach or a new
// database whose data files together pass it, with its licensed limit in MB.
#include "Engine.h"

#include "EngineHelpers.h"

bool Engine::withinSizeCap(long long dataBytes) {
    const long long capMB = sizeCapMB(m_instance.edition, m_instance.personality, m_instance.sizeCapOverrideMB);
    if (capMB <= 0 || dataBytes <= capMB * 1024 * 1024)
        return true;
    // 2000's message table words it "CREATE/ALTER DATABASE … %d MB per %S_MSG" (the message word is
    // "database").
    error(1827, 1, 16,
          engine::fmt(is2000() ? "CREATE/ALTER DATABASE failed because the resulting cumulative database size "
                                 "would exceed your licensed limit of %1 MB per database."
                               : "CREATE DATABASE or ALTER DATABASE failed because the resulting cumulative "
                                 "database size would exceed your licensed limit of %1 MB per database.",
                      std::to_string(capMB)));
    return false;
}

std::string Engine::modifyFileText(const std::string& path) const {
    if (is2000())
        return engine::fmt("MODIFY FILE encountered operating system error %1 while attempting to expand the "
                           "physical file.",
                           storage::osErrorText(112));
    return engine::fmt("MODIFY FILE encountered operating system error %1 while attempting to expand the "
                       "physical file '%2'.",
                       storage::osErrorText(112), path);
}
