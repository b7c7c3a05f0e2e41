#include "SampleFiles.h"

#include "BackupFormat.h"
#include "Principals.h"
#include "Storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Sample {
    std::string database;
    std::string familyGuid;
    std::string setGuid;
    std::string server;
    std::vector<DbUser> users; // none: a database of this server's own
};

int writeSample(const std::string& folder, const Sample& sample) {
    ::mkdir(folder.c_str(), 0755);
    const std::string& name = sample.database;
    const std::vector<DbFile> files = {{name, folder + "/" + name + ".mdf", 'D', 1, "PRIMARY", 1},
                                       {name + "_log", folder + "/" + name + "_log.ldf", 'L', 2, "", 0}};
    BackupSetHeader set;
    set.database = name;
    set.familyGuid = sample.familyGuid;
    set.setGuid = sample.setGuid;
    set.created = set.started = "2024-01-15 10:00:00.000";
    set.user = "sa";
    set.server = set.machine = sample.server;
    bool ok = true;
    for (const DbFile& f : files) {
        FileHeader h;
        h.type = f.type;
        h.database = name;
        h.familyGuid = set.familyGuid;
        h.created = set.created;
        h.fileId = f.fileId;
        h.logical = f.logical;
        h.clean = true; // as a detached database's files are shipped
        if (f.fileId == 1)
            h.members = files;
        ok = ok && storage::createDatabaseFile(f.physical, h, 1 << 20);
        if (f.fileId == 1 && !sample.users.empty())
            ok = ok && principals::writeUsers(f.physical, sample.users);
        set.files.push_back({f, storage::fileSize(f.physical), 0});
    }
    backupformat::SetWriter writer;
    ok = ok && writer.open(folder + "/" + name + ".bak", true, 0) && writer.writeHeader(set);
    for (const BackupFileEntry& f : set.files) {
        const int in = ::open(f.file.physical.c_str(), O_RDONLY);
        ok = ok && in >= 0 &&
             storage::copyBytes(in, 0, f.size, writer.fd(), nullptr) == storage::CopyResult::Done;
        if (in >= 0)
            ::close(in);
    }
    ok = ok && writer.finish("2024-01-15 10:00:01.000");
    return ok ? 0 : 1;
}

std::string sid(const char* text) {
    std::string bytes;
    principals::fromHex(text, bytes);
    return bytes;
}

} // namespace

int writeDemoFiles(const std::string& folder) {
    return writeSample(
        folder,
        {"VTR", "5A6B1C2D-3E4F-4A5B-8C6D-7E8F9A0B1C2D", "1B2C3D4E-5F6A-4B7C-8D9E-0F1A2B3C4D5E", "DEMO", {}});
}

int writeForeignFiles(const std::string& folder) {
    // SIDs as the other server made them: SQL logins 16 random bytes, Windows accounts S-1-5-21-…,
    // a user WITHOUT LOGIN S-1-5-9-3-…, a certificate user S-1-9-1-….
    return writeSample(
        folder,
        {"Sales",
         "7C1D2E3F-4A5B-4C6D-8E7F-9A0B1C2D3E4F",
         "2C3D4E5F-6A7B-4C8D-9E0F-1A2B3C4D5E6F",
         "OLDSERVER",
         {{"dbo", 'S', sid("0x3C5A7E9F1B2D4F6081A3C5E7092B4D6F")},
          {"app", 'S', sid("0x9C1B6F0E4D2A47B18F3E5D6C7B8A9F01")},
          {"reporter", 'S', sid("0x2F4E6D8CA1B3C5D7E9F10213243546A7")},
          {"бухгалтер", 'S', sid("0x7E6D5C4B3A29180706F5E4D3C2B1A098")},
          {"CORP\\olena", 'U', sid("0x010500000000000515000000A1B2C3D4E5F60718293A4B5C51040000")},
          {"audit", 'S', sid("0x0105000000000009030000009F8E7D6C5B4A39281706F5E4D3C2B1A0")},
          {"signer", 'C', sid("0x010600000000000901000000A0B1C2D3E4F5061728394A5B6C7D8E9F0A1B2C3D")}}});
}
