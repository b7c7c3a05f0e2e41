// zelvaro-backup: verified full backups of a SQL Server's databases, for a machine nobody watches
// (a systemd timer, cron). No widgets: it runs on a server without a display.
#include "BackupJob.h"
#include "Options.h"
#include "PasswordFile.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    using namespace backupcmd;
    QString error;
    const Options options = parse(app.arguments().mid(1), &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "zelvaro-backup: %s\nДовідка: zelvaro-backup --help\n", error.toUtf8().constData());
        return BadSettings;
    }
    if (options.help) {
        std::fputs(usage().toUtf8().constData(), stdout);
        return AllVerified;
    }
    if (options.versionInfo) {
        std::puts("zelvaro-backup " ZELVARO_VERSION);
        return AllVerified;
    }
    const Password password = readPassword(options.passwordFile);
    if (!password.error.isEmpty()) {
        std::fprintf(stderr, "zelvaro-backup: %s\n", password.error.toUtf8().constData());
        return BadSettings;
    }
    Output output;
    output.progress = ::isatty(STDERR_FILENO) == 1;
    return runBackups(options, password.text, output);
}
