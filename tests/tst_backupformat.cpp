// The stand-in's files: backup media read by their headers alone (several sets, an interrupted
// one, junk) and database file headers, including those written before files were listed.
#include "BackupFormat.h"
#include "Storage.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

BackupSetHeader setOf(const std::string& database, std::vector<std::string> contents) {
    BackupSetHeader set;
    set.database = database;
    set.familyGuid = "11111111-2222-4333-8444-555555555555";
    set.started = "2026-01-02 03:04:05.006";
    for (size_t i = 0; i < contents.size(); ++i)
        set.files.push_back({{"f" + std::to_string(i), "/x/f" + std::to_string(i), i == 1 ? 'L' : 'D',
                              int(i) + 1, i == 1 ? "" : "PRIMARY", i == 1 ? 0 : 1},
                             (long long)contents[i].size(),
                             0});
    return set;
}

// Writes a set; with cut, stops after the first file's bytes as an interrupted backup does.
bool writeSet(const std::string& path, const BackupSetHeader& set, const std::vector<std::string>& contents,
              bool init, long long appendAt, bool cut = false) {
    backupformat::SetWriter w;
    if (!w.open(path, init, appendAt) || !w.writeHeader(set))
        return false;
    for (size_t i = 0; i < contents.size(); ++i) {
        if (!w.write(contents[i].data(), contents[i].size()))
            return false;
        if (cut)
            return true;
    }
    return w.finish("2026-01-02 03:04:06.000");
}

std::string bytesAt(const std::string& path, long long offset, long long size) {
    std::string out(size_t(size), '\0');
    const int fd = ::open(path.c_str(), O_RDONLY);
    const ssize_t n = ::pread(fd, &out[0], out.size(), offset);
    ::close(fd);
    out.resize(n < 0 ? 0 : size_t(n));
    return out;
}

} // namespace

class BackupFormat : public QObject {
    Q_OBJECT
private slots:
    void setsAreReadByTheirHeaders() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("m.bak").toStdString();
        const std::vector<std::string> first = {"data one", "log"},
                                       second = {"data two, longer", "log 2", "ndf"};
        QVERIFY(writeSet(path, setOf("A", first), first, true, 0));
        std::vector<BackupSetHeader> sets;
        long long appendAt = 0;
        QCOMPARE(backupformat::readMedia(path, sets, appendAt), backupformat::ReadResult::Ok);
        QCOMPARE(appendAt, storage::fileSize(path));
        auto withName = setOf("Б", second);
        withName.name = "name = with % and\ttab";
        QVERIFY(writeSet(path, withName, second, false, appendAt));

        QCOMPARE(backupformat::readMedia(path, sets, appendAt), backupformat::ReadResult::Ok);
        QCOMPARE(sets.size(), size_t(2));
        QCOMPARE(sets[1].position, 2);
        QCOMPARE(sets[1].name, withName.name);
        QVERIFY(sets[0].complete && sets[1].complete);
        QCOMPARE(sets[1].finished, std::string("2026-01-02 03:04:06.000"));
        QCOMPARE(sets[1].files.size(), size_t(3));
        QCOMPARE(sets[1].files[1].file.type, 'L');
        for (size_t i = 0; i < second.size(); ++i)
            QCOMPARE(bytesAt(path, sets[1].files[i].offset, sets[1].files[i].size), second[i]);
        QCOMPARE(bytesAt(path, sets[0].files[0].offset, sets[0].files[0].size), first[0]);

        // INIT starts the media afresh.
        QVERIFY(writeSet(path, setOf("C", first), first, true, appendAt));
        QCOMPARE(backupformat::readMedia(path, sets, appendAt), backupformat::ReadResult::Ok);
        QCOMPARE(sets.size(), size_t(1));
        QCOMPARE(sets[0].database, std::string("C"));
    }

    void anInterruptedSetIsIncomplete() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("m.bak").toStdString();
        const std::vector<std::string> files = {"data", "log"};
        QVERIFY(writeSet(path, setOf("A", files), files, true, 0));
        std::vector<BackupSetHeader> sets;
        long long appendAt = 0;
        backupformat::readMedia(path, sets, appendAt);
        QVERIFY(writeSet(path, setOf("A", files), files, false, appendAt, true));
        const long long complete = appendAt;
        QCOMPARE(backupformat::readMedia(path, sets, appendAt), backupformat::ReadResult::Ok);
        QCOMPARE(sets.size(), size_t(2));
        QVERIFY(!sets[1].complete);
        // The next set would go where the complete ones end; the media is longer than that.
        QCOMPARE(appendAt, complete);
        QVERIFY(storage::fileSize(path) > appendAt);
    }

    void junkIsNoMedia() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("j.bak").toStdString();
        QVERIFY(storage::writeAll(path, "ZELVARO DATA FILE 1\nnot a backup\n"));
        std::vector<BackupSetHeader> sets;
        long long appendAt = 0;
        QCOMPARE(backupformat::readMedia(path, sets, appendAt), backupformat::ReadResult::NotMedia);
        QCOMPARE(backupformat::readMedia(path + "x", sets, appendAt), backupformat::ReadResult::Unreadable);
    }

    void primaryHeaderListsEveryFile() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("p.mdf").toStdString();
        FileHeader h;
        h.database = "Б д";
        h.familyGuid = "G";
        h.logical = "p";
        h.members = {{"p", path, 'D', 1, "PRIMARY", 1},
                     {"l", "/x/l.ldf", 'L', 2, "", 0},
                     {"s", "/x/s.ndf", 'D', 3, "f g", 2}};
        QVERIFY(storage::createDatabaseFile(path, h, 3 << 20));
        QCOMPARE(storage::fileSize(path), 3LL << 20);
        FileHeader read;
        QVERIFY(storage::readHeader(path, read));
        QCOMPARE(read.database, h.database);
        QCOMPARE(read.members.size(), size_t(3));
        QCOMPARE(read.members[2].filegroup, std::string("f g"));
        QCOMPARE(read.members[2].groupId, 2);
        h.members[1].physical = "/y/l.ldf";
        QVERIFY(storage::rewriteHeader(path, h));
        QVERIFY(storage::readHeader(path, read));
        QCOMPARE(read.members[1].physical, std::string("/y/l.ldf"));
        QCOMPARE(storage::fileSize(path), 3LL << 20);
    }

    void headerWithoutFileListNamesDataAndLog() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("old.mdf").toStdString();
        QVERIFY(storage::writeAll(path,
                                  "ZELVARO DATA FILE 1\ndatabase=VTR\nlogical=VTR\nlog=VTR_log\n\npage 0\n"));
        FileHeader read;
        QVERIFY(storage::readHeader(path, read));
        QCOMPARE(read.fileId, 1);
        QCOMPARE(read.members.size(), size_t(2));
        QCOMPARE(read.members[1].logical, std::string("VTR_log"));
        QCOMPARE(read.members[1].type, 'L');
        QVERIFY(storage::writeAll(path, "something else"));
        QVERIFY(!storage::readHeader(path, read));
    }
};

QTEST_GUILESS_MAIN(BackupFormat)
#include "tst_backupformat.moc"
