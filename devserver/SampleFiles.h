// Files to try the window with: a database's data and log files, shut down cleanly, and a backup
// of it, as if brought from elsewhere.
#pragma once

#include <string>

// --demo-files: "VTR", a database of this server's own.
int writeDemoFiles(const std::string& folder);
// --foreign-files: "Sales", a database from another server. Its users carry the SIDs of that
// server's logins (app, reporter, бухгалтер), beside a Windows user, a user without a login and a
// certificate user, and its dbo is that server's login olddba: on this server every one of them is
// orphaned, and its owner is unknown.
int writeForeignFiles(const std::string& folder);
