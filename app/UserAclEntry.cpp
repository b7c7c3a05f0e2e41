// Adding and taking back one account's ACL entry (see UserAclEntry.h).
#include "UserAclEntry.h"

#include "Journal.h"

#include <QByteArray>
#include <QFile>
#include <QRegularExpression>

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <vector>

int permsOf(acl_entry_t entry) {
    acl_permset_t set = nullptr;
    if (acl_get_permset(entry, &set) != 0)
        return 0;
    return (acl_get_perm(set, ACL_READ) == 1 ? 4 : 0) | (acl_get_perm(set, ACL_WRITE) == 1 ? 2 : 0) |
           (acl_get_perm(set, ACL_EXECUTE) == 1 ? 1 : 0);
}

namespace {

void setPerms(acl_entry_t entry, int perms) {
    acl_permset_t set = nullptr;
    acl_get_permset(entry, &set);
    acl_clear_perms(set);
    if (perms & 4)
        acl_add_perm(set, ACL_READ);
    if (perms & 2)
        acl_add_perm(set, ACL_WRITE);
    if (perms & 1)
        acl_add_perm(set, ACL_EXECUTE);
    acl_set_permset(entry, set);
}

acl_entry_t find(acl_t acl, acl_tag_t wanted, uid_t uid = uid_t(-1)) {
    acl_entry_t entry = nullptr;
    for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        acl_get_tag_type(entry, &tag);
        if (tag != wanted)
            continue;
        if (tag != ACL_USER)
            return entry;
        auto* q = static_cast<uid_t*>(acl_get_qualifier(entry));
        const bool match = q && *q == uid;
        acl_free(q);
        if (match)
            return entry;
    }
    return nullptr;
}

acl_entry_t addEntry(acl_t* acl, acl_tag_t tag, int perms, const void* qualifier = nullptr) {
    acl_entry_t entry = nullptr;
    if (acl_create_entry(acl, &entry) != 0)
        return nullptr;
    acl_set_tag_type(entry, tag);
    if (qualifier)
        acl_set_qualifier(entry, qualifier);
    setPerms(entry, perms);
    return entry;
}

QString systemError(const QString& path, int error) {
    return QStringLiteral("Не вдалося змінити права доступу до «%1»: %2.")
        .arg(path, QString::fromLocal8Bit(strerror(error)));
}

// Owns an acl_t for the length of a call.
struct Acl {
    acl_t acl;
    explicit Acl(acl_t a) : acl(a) {}
    ~Acl() {
        if (acl)
            acl_free(acl);
    }
    Acl(const Acl&) = delete;
    Acl& operator=(const Acl&) = delete;
};

bool store(const QByteArray& native, acl_t acl, acl_type_t type, const QString& path, QString* why) {
    if (acl_valid(acl) != 0 || acl_set_file(native.constData(), type, acl) != 0) {
        if (why)
            *why = systemError(path, errno);
        return false;
    }
    return true;
}

std::optional<uid_t> accountUid(const QString& account) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwnam_r(account.toLocal8Bit().constData(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_uid;
    bool number = false;
    const uint uid = account.toUInt(&number);
    return number ? std::optional<uid_t>(uid_t(uid)) : std::nullopt;
}

// Written down before the ACL changes: a crash between leaves an entry with nothing to take back,
// never a grant nobody knows of.
bool journalled(AclChange& change, QString* why) {
    ops::JournalEntry entry;
    entry.kind = ops::JournalEntry::Kind::AclGrant;
    entry.path = change.path;
    entry.account = accountName(change.uid);
    entry.acl.added = change.added;
    entry.acl.hadEntry = change.hadEntry;
    entry.acl.maskBefore = change.hadMask ? change.oldMask : -1;
    QString problem;
    if (!ops::journal().write(entry, &problem)) {
        if (why)
            *why = problem;
        return false;
    }
    change.journalId = entry.id;
    return true;
}

} // namespace

std::optional<AclChange> addUserRights(const QString& path, uid_t uid, int perms, QString* why) {
    const QByteArray native = QFile::encodeName(path);
    Acl acl(acl_get_file(native.constData(), ACL_TYPE_ACCESS));
    if (!acl.acl) {
        if (why)
            *why = systemError(path, errno);
        return std::nullopt;
    }
    AclChange change;
    change.path = path;
    change.uid = uid;
    acl_entry_t own = find(acl.acl, ACL_USER, uid);
    acl_entry_t mask = find(acl.acl, ACL_MASK);
    change.hadEntry = own != nullptr;
    change.oldPerms = own ? permsOf(own) : 0;
    change.hadMask = mask != nullptr;
    change.oldMask = mask ? permsOf(mask) : permsOf(find(acl.acl, ACL_GROUP_OBJ));
    const int newMask = change.oldMask | perms;
    if ((change.oldPerms & change.oldMask & perms) == perms && own)
        return change; // its own entry already gives them: nothing to add
    change.added = perms & ~change.oldPerms;

    // Every other group-class entry must keep the rights it has under the old mask.
    if (newMask != change.oldMask) {
        acl_entry_t entry = nullptr;
        for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl.acl, which, &entry) == 1;
             which = ACL_NEXT_ENTRY) {
            acl_tag_t tag = ACL_UNDEFINED_TAG;
            acl_get_tag_type(entry, &tag);
            if (entry == own || (tag != ACL_USER && tag != ACL_GROUP && tag != ACL_GROUP_OBJ))
                continue;
            if ((permsOf(entry) & newMask) != (permsOf(entry) & change.oldMask)) {
                if (why)
                    *why =
                        QStringLiteral("Права доступу до «%1» не можна доповнити, не розширивши їх для інших "
                                       "облікових записів.")
                            .arg(path);
                return std::nullopt;
            }
        }
    }
    if (own)
        setPerms(own, change.oldPerms | perms);
    else if (!addEntry(&acl.acl, ACL_USER, perms, &uid)) {
        if (why)
            *why = systemError(path, errno);
        return std::nullopt;
    }
    if (mask)
        setPerms(find(acl.acl, ACL_MASK), newMask);
    else
        addEntry(&acl.acl, ACL_MASK, newMask);
    if (!journalled(change, why))
        return std::nullopt;
    if (!store(native, acl.acl, ACL_TYPE_ACCESS, path, why)) {
        ops::journal().crossOut(change.journalId);
        return std::nullopt;
    }
    change.changed = true;
    return change;
}

namespace {

bool takeBackAcl(const AclChange& change, QString* why) {
    const QByteArray native = QFile::encodeName(change.path);
    Acl acl(acl_get_file(native.constData(), ACL_TYPE_ACCESS));
    if (!acl.acl) {
        if (errno == ENOENT)
            return true; // gone, and its entries with it
        if (why)
            *why = systemError(change.path, errno);
        return false;
    }
    if (acl_entry_t own = find(acl.acl, ACL_USER, change.uid)) {
        if (change.hadEntry)
            setPerms(own, permsOf(own) & ~change.added);
        else
            acl_delete_entry(acl.acl, own);
    }
    bool othersNamed = false;
    acl_entry_t entry = nullptr;
    for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl.acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        acl_get_tag_type(entry, &tag);
        othersNamed = othersNamed || tag == ACL_USER || tag == ACL_GROUP;
    }
    if (acl_entry_t mask = find(acl.acl, ACL_MASK)) {
        if (!change.hadMask && !othersNamed)
            acl_delete_entry(acl.acl, mask); // back to the mode bits alone
        else
            setPerms(mask, change.hadMask ? change.oldMask : permsOf(find(acl.acl, ACL_GROUP_OBJ)));
    }
    return store(native, acl.acl, ACL_TYPE_ACCESS, change.path, why);
}

} // namespace

bool takeBack(const AclChange& change, QString* why) {
    if (!change.changed)
        return true;
    if (!takeBackAcl(change, why))
        return false;
    if (!change.journalId.isEmpty())
        ops::journal().crossOut(change.journalId);
    return true;
}

bool takeBackJournalled(const QString& path, const QString& account, int added, bool hadEntry, int maskBefore,
                        QString* why) {
    const std::optional<uid_t> uid = accountUid(account);
    if (!uid) {
        if (why)
            *why = QStringLiteral("Обліковий запис «%1» не знайдено.").arg(account);
        return false;
    }
    AclChange change;
    change.path = path;
    change.uid = *uid;
    change.changed = true;
    change.added = added;
    change.hadEntry = hadEntry;
    change.hadMask = maskBefore >= 0;
    change.oldMask = maskBefore;
    return takeBackAcl(change, why);
}

bool shareNewFolder(const QString& folder, uid_t user, uid_t server, QString* why) {
    const QByteArray native = QFile::encodeName(folder);
    {
        Acl access(acl_init(5));
        addEntry(&access.acl, ACL_USER_OBJ, 7);
        addEntry(&access.acl, ACL_USER, 7, &server);
        addEntry(&access.acl, ACL_GROUP_OBJ, 0);
        addEntry(&access.acl, ACL_MASK, 7);
        addEntry(&access.acl, ACL_OTHER, 0);
        if (!store(native, access.acl, ACL_TYPE_ACCESS, folder, why))
            return false;
    }
    Acl inherited(acl_init(6));
    addEntry(&inherited.acl, ACL_USER_OBJ, 7);
    addEntry(&inherited.acl, ACL_USER, 7, &server);
    if (user != server)
        addEntry(&inherited.acl, ACL_USER, 7, &user);
    addEntry(&inherited.acl, ACL_GROUP_OBJ, 0);
    addEntry(&inherited.acl, ACL_MASK, 7);
    addEntry(&inherited.acl, ACL_OTHER, 0);
    return store(native, inherited.acl, ACL_TYPE_DEFAULT, folder, why);
}

QString aclText(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    QString out;
    for (acl_type_t type : {ACL_TYPE_ACCESS, ACL_TYPE_DEFAULT}) {
        Acl acl(acl_get_file(native.constData(), type));
        if (!acl.acl)
            continue;
        char* text =
            acl_to_any_text(acl.acl, type == ACL_TYPE_DEFAULT ? "default:" : nullptr, '\n', TEXT_NUMERIC_IDS);
        if (text) {
            out += QString::fromLocal8Bit(text) + QLatin1Char('\n');
            acl_free(text);
        }
    }
    return out;
}

QString accountName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

QString shellQuoted(const QString& text) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._/:,+=@-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}
