// zelvaro-devserver: a stand-in SQL Server on loopback for Zelvaro's tests and first tries.
#include "BackupFormat.h"
#include "Catalog.h"
#include "CollationBytes.h"
#include "Edition.h"
#include "Engine.h"
#include "PathSpace.h"
#include "RunAs.h"
#include "RefusalLog.h"
#include "Personality.h"
#include "Prelogin.h"
#include "SampleFiles.h"
#include "Session.h"
#include "SystemFiles.h"
#include "Storage.h"

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int g_wakePipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 'x';
    [[maybe_unused]] ssize_t n = ::write(g_wakePipe[1], &c, 1);
}

[[noreturn]] void usage(const std::string& problem) {
    std::fprintf(
        stderr,
        "zelvaro-devserver: %s\n"
        "usage: zelvaro-devserver [--listen ADDR]... [--port N] [--version V] [--instance NAME=V]...\n"
        "                         [--browser-port N] [--login USER:PASSWORD] [--data-dir DIR]\n"
        "                         [--deny PATH]... [--log-statements FILE] [--slow MS] [--throughput "
        "MB_PER_S]\n"
        "                         [--refuse-logins] [--drop-backup-halfway] [--damage-backups]\n"
        "                         [--demo-files DIR] [--foreign-files DIR] [--collation NAME] "
        "[--force-encryption]\n"
        "                         [--browser-lists-unknown] [--ignore-attention] [--silent]\n"
        "                         [--default-log-dir DIR] [--rebuilt-log-notice-as-error]\n"
        "                         [--slow-changes MS] [--run-as USER] [--root DIR] [--drive LETTER=DIR]...\n"
        "                         [--drop-after-change N] [--another-client-takes-single-user MS]\n"
        "                         [--edition express|standard|enterprise|developer] [--size-cap-mb N]\n"
        "  versions: 2000 2005 2008 2012 2014 2016 2017 2019 2022 2025; addresses: loopback only\n",
        problem.c_str());
    std::exit(2);
}

bool isLoopback(const std::string& address, sockaddr_storage& out, socklen_t& length) {
    std::memset(&out, 0, sizeof out);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    const std::string a = address == "localhost" ? "127.0.0.1" : address;
    if (::inet_pton(AF_INET, a.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        length = sizeof(sockaddr_in);
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    if (::inet_pton(AF_INET6, a.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        length = sizeof(sockaddr_in6);
        return IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
    }
    return false;
}

int bindSocket(const std::string& address, int type, int& port) {
    sockaddr_storage sa;
    socklen_t length = 0;
    isLoopback(address, sa, length);
    const int fd = ::socket(sa.ss_family, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (sa.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&sa)->sin_port = htons(uint16_t(port));
    else
        reinterpret_cast<sockaddr_in6*>(&sa)->sin6_port = htons(uint16_t(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), length) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 64) != 0)) {
        ::close(fd);
        return -1;
    }
    sockaddr_storage bound;
    socklen_t boundLength = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    port = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                            : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
    return fd;
}

struct Listener {
    int fd;
    Instance* instance;
};

std::string hostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

std::string upper(std::string s) {
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// SQL Server Browser: answers "which port has instance X" and "list every instance". Asked for an
// instance it does not have, it stays silent as SQL Server's does (a client retries for seconds),
// unless listUnknown: then it lists those it has, and a client gives up at once.
void answerBrowser(int fd, const std::vector<std::unique_ptr<Instance>>& instances,
                   const std::vector<int>& ports, bool listUnknown) {
    uint8_t request[512];
    sockaddr_storage from;
    socklen_t fromLength = sizeof from;
    const ssize_t n =
        ::recvfrom(fd, request, sizeof request - 1, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0)
        return;
    std::string wanted;
    if (request[0] == 0x04) {
        request[n] = 0;
        wanted = reinterpret_cast<char*>(request + 1);
    } else if (request[0] != 0x02 && request[0] != 0x03) {
        return;
    }
    std::string text;
    const std::string host = upper(hostName());
    auto list = [&](const std::string& only) {
        for (size_t i = 0; i < instances.size(); ++i) {
            const Instance& in = *instances[i];
            const std::string name = in.instanceName.empty() ? "MSSQLSERVER" : in.instanceName;
            if (!only.empty() && upper(only) != upper(name))
                continue;
            // 2000's listener reports the release it shipped with, 8.00.194, whatever its service pack.
            const std::string version = in.personality.is2000() ? "8.00.194" : in.personality.productVersion;
            text += "ServerName;" + host + ";InstanceName;" + name + ";IsClustered;No;Version;" + version +
                    ";tcp;" + std::to_string(ports[i]) + ";;";
        }
    };
    list(wanted);
    if (text.empty() && listUnknown)
        list(std::string());
    if (text.empty())
        return;
    std::vector<uint8_t> reply = {0x05, uint8_t(text.size()), uint8_t(text.size() >> 8)};
    reply.insert(reply.end(), text.begin(), text.end());
    ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> addresses;
    int port = 1433, browserPort = 1434, version = 2019;
    std::vector<std::pair<std::string, int>> named;
    LoginPolicy login;
    std::string dataDir = "./zelvaro-data", statementLog;
    int slowMillis = 0, slowChangesMillis = 0;
    double throughput = 0;
    bool dropBackup = false;
    bool browserListsUnknown = false;
    bool ignoreAttention = false, silent = false;
    std::string defaultLogDir;
    bool rebuiltLogNoticeAsError = false;
    bool damageBackups = false;
    std::string runAs, root;
    bool dataDirGiven = false;
    Edition edition = Edition::Developer;
    bool editionGiven = false;
    int sizeCapMB = 0;
    int dropAfterChange = 0;
    int anotherTakesSingleUser = -1;

    auto number = [&](int& i, const char* what) {
        if (i + 1 >= argc)
            usage(std::string(what) + " needs a value");
        char* end = nullptr;
        const long v = std::strtol(argv[++i], &end, 10);
        if (*end || v < 0 || v > 65535)
            usage(std::string("bad value for ") + what + ": " + argv[i]);
        return int(v);
    };
    auto text = [&](int& i, const char* what) -> std::string {
        if (i + 1 >= argc)
            usage(std::string(what) + " needs a value");
        return argv[++i];
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--listen") {
            addresses.push_back(text(i, "--listen"));
        } else if (a == "--port") {
            port = number(i, "--port");
        } else if (a == "--version") {
            version = number(i, "--version");
        } else if (a == "--instance") {
            const std::string spec = text(i, "--instance");
            const size_t eq = spec.find('=');
            if (eq == std::string::npos || eq == 0)
                usage("--instance takes NAME=VERSION");
            named.emplace_back(spec.substr(0, eq), std::atoi(spec.c_str() + eq + 1));
        } else if (a == "--browser-port") {
            browserPort = number(i, "--browser-port");
        } else if (a == "--login") {
            const std::string spec = text(i, "--login");
            const size_t colon = spec.find(':');
            if (colon == std::string::npos || colon == 0)
                usage("--login takes USER:PASSWORD");
            login.user = spec.substr(0, colon);
            login.password = spec.substr(colon + 1);
        } else if (a == "--data-dir") {
            dataDir = text(i, "--data-dir");
            dataDirGiven = true;
        } else if (a == "--edition") {
            if (!editionFor(text(i, "--edition"), edition))
                usage("--edition takes express, standard, enterprise or developer");
            editionGiven = true;
        } else if (a == "--size-cap-mb") {
            sizeCapMB = number(i, "--size-cap-mb");
            if (sizeCapMB == 0)
                usage("--size-cap-mb takes a number of MB above 0");
        } else if (a == "--run-as") {
            runAs = text(i, "--run-as");
        } else if (a == "--root") {
            root = text(i, "--root");
            if (!runas::makeFolders(root))
                usage("cannot create the root " + root);
            pathspace::setRoot(root);
        } else if (a == "--drive") {
            const std::string spec = text(i, "--drive");
            if (spec.size() < 3 || spec[1] != '=' || !runas::makeFolders(spec.substr(2)) ||
                !pathspace::addDrive(spec[0], spec.substr(2)))
                usage("--drive takes LETTER=DIR, DIR a folder that exists or can be made");
        } else if (a == "--collation") {
            Catalog::setCollation(text(i, "--collation"));
            // Columns and the login carry it too; a name not known here keeps the default's bytes.
            collation::Bytes bytes;
            if (collation::bytesOf(Catalog::collation(), bytes))
                tds::setCollation(bytes);
        } else if (a == "--deny") {
            storage::denyPath(text(i, "--deny"));
        } else if (a == "--log-statements") {
            statementLog = text(i, "--log-statements");
        } else if (a == "--slow") {
            slowMillis = number(i, "--slow");
        } else if (a == "--slow-changes") {
            slowChangesMillis = number(i, "--slow-changes");
        } else if (a == "--throughput") {
            const std::string v = text(i, "--throughput");
            char* end = nullptr;
            throughput = std::strtod(v.c_str(), &end);
            if (*end || !(throughput > 0))
                usage("bad value for --throughput: " + v);
        } else if (a == "--force-encryption") {
            login.forceEncryption = true;
        } else if (a == "--refuse-logins") {
            login.refuseAll = true;
        } else if (a == "--browser-lists-unknown") {
            browserListsUnknown = true;
        } else if (a == "--drop-backup-halfway") {
            dropBackup = true;
        } else if (a == "--ignore-attention") {
            ignoreAttention = true;
        } else if (a == "--silent") {
            silent = true;
        } else if (a == "--default-log-dir") {
            defaultLogDir = text(i, "--default-log-dir");
        } else if (a == "--rebuilt-log-notice-as-error") {
            rebuiltLogNoticeAsError = true;
        } else if (a == "--another-client-takes-single-user") {
            anotherTakesSingleUser = number(i, "--another-client-takes-single-user");
        } else if (a == "--drop-after-change") {
            dropAfterChange = number(i, "--drop-after-change");
        } else if (a == "--damage-backups") {
            damageBackups = true;
        } else if (a == "--demo-files") {
            return writeDemoFiles(text(i, "--demo-files"));
        } else if (a == "--foreign-files") {
            return writeForeignFiles(text(i, "--foreign-files"));
        } else if (a == "--help" || a == "-h") {
            usage("a stand-in SQL Server speaking TDS on loopback");
        } else {
            usage("unknown argument " + a);
        }
    }
    if (addresses.empty())
        addresses.push_back("127.0.0.1");
    for (const std::string& address : addresses) {
        sockaddr_storage sa;
        socklen_t length;
        if (!isLoopback(address, sa, length))
            usage("refusing to listen on " + address + ": only loopback addresses are allowed");
    }

    if (!root.empty() && pathspace::windows())
        usage("--root and --drive are two different file systems: give one of them");
    // The server's own data folder: inside its file system, where SQL Server on Linux and on
    // Windows keep it unless told otherwise.
    if (!dataDirGiven && !root.empty())
        dataDir = root + "/var/opt/mssql/data";
    if (!dataDirGiven && pathspace::windows())
        dataDir = pathspace::host("C:\\SQLData").empty() ? dataDir : pathspace::host("C:\\SQLData");
    runas::makeFolders(dataDir);
    if (pathspace::rooted() && pathspace::server(dataDir).empty())
        usage("the data folder " + dataDir + " is outside the server's file system");
    std::vector<std::unique_ptr<Catalog>> catalogs;
    std::vector<std::unique_ptr<Principals>> logins;
    std::vector<std::unique_ptr<Instance>> instances;
    auto addInstance = [&](const std::string& name, int year) {
        auto instance = std::make_unique<Instance>();
        if (!personalityFor(year, instance->personality))
            usage("unknown version " + std::to_string(year));
        const std::string folder = name.empty() ? dataDir : dataDir + "/" + name;
        ::mkdir(folder.c_str(), 0755);
        catalogs.push_back(std::make_unique<Catalog>(folder));
        instance->catalog = catalogs.back().get();
        logins.push_back(std::make_unique<Principals>(folder, login.user, login.password));
        instance->principals = logins.back().get();
        instance->instanceName = name;
        instance->dataFolder = pathspace::server(folder);
        if (pathspace::windows()) {
            // A Linux-era personality given drives plays SQL Server on Windows.
            Personality& p = instance->personality;
            p.onWindows = true;
            const size_t linuxAt = p.versionBanner.find(" on Linux");
            if (linuxAt != std::string::npos)
                p.versionBanner = p.versionBanner.substr(0, linuxAt) +
                                  " on Windows Server 2019 Datacenter 10.0 <X64> (Build 17763: ) (Hypervisor)";
        }
        // @@VERSION names the build's own edition unless one is asked for.
        instance->edition = edition;
        instance->sizeCapOverrideMB = sizeCapMB;
        if (editionGiven)
            instance->personality.versionBanner = bannerFor(edition, instance->personality);
        instance->serverName = upper(hostName()) + (name.empty() ? "" : "\\" + upper(name));
        giveSystemFiles(*instance->catalog, instance->personality, instance->dataFolder);
        instance->statementLog = statementLog;
        instance->loginName = login.user;
        instance->slowMillis = slowMillis;
        instance->slowChangesMillis = slowChangesMillis;
        instance->throughputMBps = throughput;
        instance->dropBackupHalfway = dropBackup;
        instance->ignoreAttention = ignoreAttention;
        instance->silent = silent;
        instance->defaultLogDir = defaultLogDir;
        instance->rebuiltLogNoticeAsError = rebuiltLogNoticeAsError;
        instance->damageBackups = damageBackups;
        instance->dropAfterChange = dropAfterChange;
        instance->anotherTakesSingleUserMillis = anotherTakesSingleUser;
        instances.push_back(std::move(instance));
    };
    addInstance("", version);
    for (const auto& [name, year] : named)
        addInstance(name, year);
    // The certificate is made now, not when the first client asks for encryption.
    for (const auto& instance : instances)
        prelogin::canEncrypt(instance->personality);

    if (::pipe(g_wakePipe) != 0)
        return 1;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<Listener> listeners;
    std::vector<int> ports;
    std::vector<std::string> lines;
    for (size_t k = 0; k < instances.size(); ++k) {
        int instancePort = k == 0 ? port : 0;
        for (const std::string& address : addresses) {
            const int fd = bindSocket(address, SOCK_STREAM, instancePort);
            if (fd < 0) {
                std::fprintf(stderr, "zelvaro-devserver: cannot listen on %s:%d: %s\n", address.c_str(),
                             instancePort, std::strerror(errno));
                return 1;
            }
            listeners.push_back({fd, instances[k].get()});
            const std::string shown = address.find(':') != std::string::npos ? "[" + address + "]" : address;
            lines.push_back(
                "listening on " + shown + ":" + std::to_string(instancePort) +
                (instances[k]->instanceName.empty() ? "" : " instance " + instances[k]->instanceName));
        }
        ports.push_back(instancePort);
    }
    std::vector<int> browsers;
    if (browserPort != 0) {
        for (const std::string& address : addresses) {
            int p = browserPort;
            const int fd = bindSocket(address, SOCK_DGRAM, p);
            if (fd < 0) {
                std::fprintf(stderr, "zelvaro-devserver: cannot answer browser requests on %s:%d: %s\n",
                             address.c_str(), browserPort, std::strerror(errno));
                return 1;
            }
            browsers.push_back(fd);
        }
    }
    refusals::openFromEnvironment();
    // Ports are bound: from here on the server is its service account, with that account's rights
    // on every file it opens, creates, lists or checks.
    if (!runAs.empty()) {
        std::string problem;
        std::vector<std::string> owned = {dataDir};
        if (!statementLog.empty())
            owned.push_back(statementLog);
        // A real service opens its ports as its account, so the kernel's socket table names the
        // account as the listener's owner (what a client on this computer reads to know who the
        // server is): the sockets bound as root are handed over with the files.
        if (const passwd* account = ::getpwnam(runAs.c_str()))
            for (const auto& l : listeners)
                ::fchown(l.fd, account->pw_uid, account->pw_gid);
        if (!runas::become(runAs, owned, problem) || !runas::canUse(dataDir, problem)) {
            std::fprintf(stderr, "zelvaro-devserver: cannot run as %s: %s\n", runAs.c_str(), problem.c_str());
            return 1;
        }
    }
    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);

    std::atomic<int> nextSession{51};
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({g_wakePipe[0], POLLIN, 0});
        for (const Listener& l : listeners)
            fds.push_back({l.fd, POLLIN, 0});
        for (int b : browsers)
            fds.push_back({b, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents)
            break;
        for (size_t i = 0; i < listeners.size(); ++i) {
            if (!(fds[1 + i].revents & POLLIN))
                continue;
            const int client = ::accept4(listeners[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            // Replies go out as soon as they are written, as SQL Server's do.
            const int noDelay = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
            Instance* instance = listeners[i].instance;
            const int session = nextSession++;
            std::thread([client, instance, login, session] {
                runSession(client, *instance, login, session);
            }).detach();
        }
        for (size_t i = 0; i < browsers.size(); ++i)
            if (fds[1 + listeners.size() + i].revents & POLLIN)
                answerBrowser(browsers[i], instances, ports, browserListsUnknown);
    }
    for (const Listener& l : listeners)
        ::close(l.fd);
    std::fflush(stdout);
    // Sessions still running are cut off with the process; the catalog is saved after every change.
    std::_Exit(0);
}
