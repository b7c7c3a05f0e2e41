// The login's password: never from the command line or the environment (both are visible to other
// users of the machine), only from a file nobody but its owner can read, or from the credential
// systemd hands the service ($CREDENTIALS_DIRECTORY/password, see LoadCredential= in the unit).
#pragma once

#include <QString>

namespace backupcmd {

struct Password {
    QString text;
    QString error; // why it could not be read, in Ukrainian; empty when it was
};

// From `path`; with an empty path, from systemd's credential. One line break at the end of the
// file is not part of the password.
Password readPassword(const QString& path);

} // namespace backupcmd
