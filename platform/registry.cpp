// SPDX-License-Identifier: MIT
#include "platform/registry.h"

#include "platform/res_strings.h"

#include <QFile>
#include <QList>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <utility>

namespace pix {
namespace {

// Value names may hold any character, but QSettings splits keys at "/" and "\": those, the
// escape character itself and "@" are written as %XX. The empty name (the key's default
// value) is "@", and "%key" marks a key that was created without values, since an INI
// group with no entries would vanish. Neither can come out of the escaping.
constexpr const char* kDefaultValueName = "@";
constexpr const char* kKeyMarker = "%key";

QString EscapeName(const std::string& name) {
    if (name.empty()) return QString::fromLatin1(kDefaultValueName);
    QString text = QString::fromUtf8(name);
    QString out;
    out.reserve(text.size());
    for (QChar ch : text) {
        if (ch == u'%' || ch == u'/' || ch == u'\\' || ch == u'@')
            out += QString::asprintf("%%%02X", static_cast<unsigned>(ch.unicode()));
        else
            out += ch;
    }
    return out;
}

int HexDigit(QChar ch) {
    const char16_t c = ch.unicode();
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

std::string UnescapeName(const QString& stored) {
    if (stored == QLatin1String(kDefaultValueName)) return {};
    QString out;
    for (qsizetype i = 0; i < stored.size(); ++i) {
        if (stored[i] == u'%' && i + 2 < stored.size() && HexDigit(stored[i + 1]) >= 0 &&
            HexDigit(stored[i + 2]) >= 0) {
            out += QChar(
                static_cast<char16_t>(HexDigit(stored[i + 1]) * 16 + HexDigit(stored[i + 2])));
            i += 2;
        } else {
            out += stored[i];
        }
    }
    return out.toStdString();
}

// Finds the stored spelling of a name among candidates, without regard to case.
bool FindStored(const QStringList& candidates, const QString& wanted, QString& stored) {
    for (const QString& c : candidates) {
        if (c == QLatin1String(kKeyMarker)) continue;
        if (QString::fromStdString(UnescapeName(c))
                .compare(QString::fromStdString(UnescapeName(wanted)), Qt::CaseInsensitive) == 0) {
            stored = c;
            return true;
        }
    }
    return false;
}

// Stored form of a value: "<type>:<data>", with texts as they are, integers as 8 hex digits
// and binary data as hex byte pairs, in the spirit of exported registry files.
constexpr const char* kPrefixString = "sz:";
constexpr const char* kPrefixExpand = "expand_sz:";
constexpr const char* kPrefixDword = "dword:";
constexpr const char* kPrefixBinary = "hex:";

// Texts that are not UTF-8 (file names are the file system's bytes) are kept as hex bytes,
// since the settings file holds Unicode text.
constexpr const char* kHexSuffix = "hex-";

std::string HexBytes(const std::string& data, bool commas) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (commas && i > 0) out += ',';
        const auto b = static_cast<std::uint8_t>(data[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

bool IsUtf8(const std::string& text) { return QString::fromStdString(text).toStdString() == text; }

std::string EncodeValue(TRegDataType type, const std::string& data) {
    switch (type) {
        case rdString:
        case rdExpandString: {
            const std::string prefix = type == rdString ? kPrefixString : kPrefixExpand;
            // A text that itself begins like the hex form goes as hex too.
            const bool plain = IsUtf8(data) && data.rfind(kHexSuffix, 0) != 0;
            return plain ? prefix + data : prefix + kHexSuffix + HexBytes(data, false);
        }
        case rdInteger: {
            std::uint32_t v = 0;
            for (std::size_t i = 0; i < 4 && i < data.size(); ++i)
                v |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(data[i])) << (8 * i);
            char text[16];
            std::snprintf(text, sizeof text, "%08x", v);
            return kPrefixDword + std::string(text);
        }
        default:
            return kPrefixBinary + HexBytes(data, true);
    }
}

bool StartsWith(const std::string& text, const char* prefix, std::string& rest) {
    const std::size_t n = std::strlen(prefix);
    if (text.compare(0, n, prefix) != 0) return false;
    rest = text.substr(n);
    return true;
}

// Hex byte pairs, optionally separated by commas or blanks.
bool ParseHex(const std::string& text, std::string& data) {
    int high = -1;
    for (char c : text) {
        if (c == ',' || c == ' ') continue;
        const int d = HexDigit(QChar(static_cast<char16_t>(static_cast<unsigned char>(c))));
        if (d < 0) return false;
        if (high < 0) {
            high = d;
        } else {
            data += static_cast<char>(high * 16 + d);
            high = -1;
        }
    }
    return high < 0;
}

// Anything that is not one of the forms above is a value of unknown type.
TRegDataType DecodeValue(const std::string& text, std::string& data) {
    std::string rest;
    data.clear();
    for (TRegDataType type : {rdString, rdExpandString}) {
        if (!StartsWith(text, type == rdString ? kPrefixString : kPrefixExpand, rest)) continue;
        std::string hex;
        if (!StartsWith(rest, kHexSuffix, hex)) {
            data = rest;
            return type;
        }
        return ParseHex(hex, data) ? type : rdUnknown;
    }
    if (StartsWith(text, kPrefixDword, rest)) {
        if (rest.empty() || rest.size() > 8) return rdUnknown;
        std::uint32_t v = 0;
        for (char c : rest) {
            const int d = HexDigit(QChar(static_cast<char16_t>(static_cast<unsigned char>(c))));
            if (d < 0) return rdUnknown;
            v = v * 16 + static_cast<std::uint32_t>(d);
        }
        for (int i = 0; i < 4; ++i) data += static_cast<char>((v >> (8 * i)) & 0xFF);
        return rdInteger;
    }
    if (StartsWith(text, kPrefixBinary, rest)) return ParseHex(rest, data) ? rdBinary : rdUnknown;
    return rdUnknown;
}

const char* RootKeyName(HKEY root) {
    switch (root) {
        case HKEY_CLASSES_ROOT:
            return "HKEY_CLASSES_ROOT";
        case HKEY_CURRENT_USER:
            return "HKEY_CURRENT_USER";
        case HKEY_LOCAL_MACHINE:
            return "HKEY_LOCAL_MACHINE";
        case HKEY_USERS:
            return "HKEY_USERS";
        case HKEY_PERFORMANCE_DATA:
            return "HKEY_PERFORMANCE_DATA";
        case HKEY_CURRENT_CONFIG:
            return "HKEY_CURRENT_CONFIG";
        case HKEY_DYN_DATA:
            return "HKEY_DYN_DATA";
    }
    return nullptr;
}

std::mutex& RootFolderLock() {
    static std::mutex lock;
    return lock;
}
std::string& RootFolderOverride() {
    static std::string folder;
    return folder;
}

std::vector<std::string> SplitKeyPath(const std::string& key) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : key) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(std::move(part));
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(std::move(part));
    return parts;
}

// What tells one file from another: QSettings writes a new file beside the old one and
// renames it over it, so a file that was written is another file than before.
struct TFileStamp {
    bool Exists = false;
    dev_t Device = 0;
    ino_t Inode = 0;
    std::int64_t ModifiedNs = 0;
    std::int64_t Size = 0;
    bool operator==(const TFileStamp&) const = default;
};

TFileStamp StampOf(const QString& fileName) {
    struct stat st {};
    if (::stat(QFile::encodeName(fileName).constData(), &st) != 0) return {};
    return {true, st.st_dev, st.st_ino,
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            static_cast<std::int64_t>(st.st_size)};
}

// Makes one change to the settings (`affected` is the full name of the value or group it
// touches) and writes the file. QSettings's status cannot tell whether that worked: it
// keeps the first error it ever met, so a damaged file read at open would fail every
// write, and a failure after that would go unseen. The file itself tells. A change that
// did not reach the disk is taken back, since QSettings would otherwise keep it in its
// process-wide cache, where every later accessor would read what the file does not hold.
bool WriteThrough(QSettings& s, const QString& affected, const std::function<void()>& change) {
    QList<std::pair<QString, QVariant>> before;
    if (s.contains(affected)) before.append({affected, s.value(affected)});
    s.beginGroup(affected);
    const QStringList below = s.allKeys();
    s.endGroup();
    for (const QString& k : below)
        before.append({affected + u'/' + k, s.value(affected + u'/' + k)});

    const TFileStamp old = StampOf(s.fileName());
    change();
    s.sync();
    if (!(StampOf(s.fileName()) == old)) return true;
    s.remove(affected);
    for (const auto& [k, v] : before) s.setValue(k, v);
    return false;
}

}  // namespace

bool IsPredefinedRootKey(HKEY root) { return RootKeyName(root) != nullptr; }

void SetRegistryRootFolderForTesting(const std::string& folder) {
    std::lock_guard guard(RootFolderLock());
    RootFolderOverride() = folder;
}

std::string RegistryFileName(HKEY root) {
    const char* name = RootKeyName(root);
    if (name == nullptr) return {};
    std::string folder;
    {
        std::lock_guard guard(RootFolderLock());
        folder = RootFolderOverride();
    }
    if (folder.empty()) {
        if (const char* env = std::getenv("PIXORAMA_REGISTRY_DIR")) folder = env;
    }
    if (!folder.empty()) return folder + "/" + name + ".ini";

    const std::string user =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
    if (root == HKEY_CURRENT_USER) return user + "/Corvane/Pixorama.ini";
    if (root == HKEY_LOCAL_MACHINE) {
        // The system folders follow the user's own in the list.
        const QStringList all =
            QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
        const std::string system = all.size() > 1 ? all.last().toStdString() : "/etc/xdg";
        return system + "/Corvane/Pixorama.ini";
    }
    return user + "/Corvane/Pixorama." + name + ".ini";
}

struct TRegistry::TStore {
    explicit TStore(const QString& file) : Settings(file, QSettings::IniFormat) {}
    QSettings Settings;
};

TRegistry::TRegistry() = default;
TRegistry::TRegistry(REGSAM access) : FAccess(access) {}
TRegistry::~TRegistry() = default;

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    FRootKey = root;
    FStore.reset();
}

TRegistry::TStore& TRegistry::Store() {
    if (!FStore)
        FStore = std::make_unique<TStore>(QString::fromStdString(RegistryFileName(FRootKey)));
    return *FStore;
}

// Walks the key path from the root or the current key and returns the QSettings group of
// the key (escaped parts joined by "/"), using the stored spelling of each existing part.
std::string TRegistry::Resolve(const std::string& key, bool& found, bool create) {
    QSettings& s = Store().Settings;
    const bool relative = key.empty() || key[0] != '\\';
    QString group = relative && FOpen ? QString::fromStdString(FCurrentPath) : QString();
    found = true;
    for (const std::string& part : SplitKeyPath(key)) {
        s.beginGroup(group);
        const QStringList children = s.childGroups();
        s.endGroup();
        QString stored;
        if (!found || !FindStored(children, EscapeName(part), stored)) {
            found = false;
            if (!create) return {};
            stored = EscapeName(part);
        }
        group = group.isEmpty() ? stored : group + u'/' + stored;
    }
    return group.toStdString();
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    return OpenKeyWithAccess(key, FAccess, canCreate);
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
    return OpenKeyWithAccess(key, KEY_READ, false);
}

bool TRegistry::OpenKeyWithAccess(const std::string& key, REGSAM access, bool canCreate) {
    if (!IsPredefinedRootKey(FRootKey)) return false;
    QSettings& s = Store().Settings;
    s.sync();  // take in what other accessors and processes wrote since
    bool found = false;
    const std::string group = Resolve(key, found, canCreate);
    if (!found) {
        if (!canCreate) return false;
        const QString marker = QString::fromStdString(group) + u'/' + QLatin1String(kKeyMarker);
        if (!WriteThrough(s, marker, [&] { s.setValue(marker, QString()); })) return false;
    }
    FCurrentPath = group;
    FKeyAccess = access;
    FOpen = true;
    return true;
}

std::string TRegistry::CurrentPath() const {
    std::string path;
    for (const QString& part :
         QString::fromStdString(FCurrentPath).split(u'/', Qt::SkipEmptyParts)) {
        if (!path.empty()) path += '\\';
        path += UnescapeName(part);
    }
    return path;
}

void TRegistry::CloseKey() {
    if (FOpen && FStore) FStore->Settings.sync();
    FOpen = false;
    FCurrentPath.clear();
    FKeyAccess = 0;
}

bool TRegistry::CreateKey(const std::string& key) {
    if (!IsPredefinedRootKey(FRootKey)) return false;
    bool found = false;
    const std::string group = Resolve(key, found, true);
    if (found) return true;
    QSettings& s = Store().Settings;
    const QString marker = QString::fromStdString(group) + u'/' + QLatin1String(kKeyMarker);
    return WriteThrough(s, marker, [&] { s.setValue(marker, QString()); });
}

bool TRegistry::DeleteKey(const std::string& key) {
    if (!IsPredefinedRootKey(FRootKey)) return false;
    bool found = false;
    const std::string group = Resolve(key, found, false);
    if (!found || group.empty()) return false;
    QSettings& s = Store().Settings;
    const QString affected = QString::fromStdString(group);
    return WriteThrough(s, affected, [&] { s.remove(affected); });
}

bool TRegistry::KeyExists(const std::string& key) {
    if (!IsPredefinedRootKey(FRootKey)) return false;
    bool found = false;
    Resolve(key, found, false);
    return found;
}

std::vector<std::string> TRegistry::GetKeyNames() {
    std::vector<std::string> names;
    if (!FOpen) return names;
    QSettings& s = Store().Settings;
    s.beginGroup(QString::fromStdString(FCurrentPath));
    for (const QString& g : s.childGroups()) names.push_back(UnescapeName(g));
    s.endGroup();
    return names;
}

std::vector<std::string> TRegistry::GetValueNames() {
    std::vector<std::string> names;
    if (!FOpen) return names;
    QSettings& s = Store().Settings;
    s.beginGroup(QString::fromStdString(FCurrentPath));
    for (const QString& k : s.childKeys())
        if (k != QLatin1String(kKeyMarker)) names.push_back(UnescapeName(k));
    s.endGroup();
    return names;
}

bool TRegistry::ReadRaw(const std::string& name, TRegDataType& type, std::string& data) {
    if (!FOpen || (FKeyAccess & KEY_QUERY_VALUE) == 0) return false;
    QSettings& s = Store().Settings;
    s.beginGroup(QString::fromStdString(FCurrentPath));
    QString stored;
    const bool found = FindStored(s.childKeys(), EscapeName(name), stored);
    QVariant v = found ? s.value(stored) : QVariant();
    s.endGroup();
    if (!found) return false;
    // An unquoted value with commas in a file written by hand comes back as a list.
    const QString text = v.typeId() == QMetaType::QStringList
                             ? v.toStringList().join(QStringLiteral(", "))
                             : v.toString();
    type = DecodeValue(text.toStdString(), data);
    return true;
}

void TRegistry::WriteRaw(const std::string& name, TRegDataType type, const std::string& data) {
    if (!FOpen || (FKeyAccess & KEY_SET_VALUE) == 0)
        throw ERegistryException(SRegSetDataFailed, name.c_str());
    QSettings& s = Store().Settings;
    s.beginGroup(QString::fromStdString(FCurrentPath));
    QString stored;
    if (!FindStored(s.childKeys(), EscapeName(name), stored)) stored = EscapeName(name);
    s.endGroup();
    const QString affected = QString::fromStdString(FCurrentPath) + u'/' + stored;
    const QString text = QString::fromStdString(EncodeValue(type, data));
    if (!WriteThrough(s, affected, [&] { s.setValue(affected, text); }))
        throw ERegistryException(SRegSetDataFailed, name.c_str());
}

bool TRegistry::ValueExists(const std::string& name) {
    TRegDataType type;
    std::string data;
    return ReadRaw(name, type, data);
}

bool TRegistry::DeleteValue(const std::string& name) {
    if (!FOpen || (FKeyAccess & KEY_SET_VALUE) == 0) return false;
    QSettings& s = Store().Settings;
    s.beginGroup(QString::fromStdString(FCurrentPath));
    QString stored;
    const bool found = FindStored(s.childKeys(), EscapeName(name), stored);
    s.endGroup();
    if (!found) return false;
    const QString affected = QString::fromStdString(FCurrentPath) + u'/' + stored;
    return WriteThrough(s, affected, [&] { s.remove(affected); });
}

bool TRegistry::GetDataInfo(const std::string& name, TRegDataInfo& info) {
    TRegDataType type;
    std::string data;
    info = {};
    if (!ReadRaw(name, type, data)) return false;
    info.RegData = type;
    // Texts count their terminating zero, as the stored registry data would.
    const std::size_t size =
        type == rdString || type == rdExpandString ? data.size() + 1 : data.size();
    info.DataSize = static_cast<std::uint32_t>(std::min<std::size_t>(size, 0x7FFFFFFF));
    return true;
}

TRegDataType TRegistry::GetDataType(const std::string& name) {
    TRegDataInfo info;
    return GetDataInfo(name, info) ? info.RegData : rdUnknown;
}

int TRegistry::GetDataSize(const std::string& name) {
    TRegDataInfo info;
    return GetDataInfo(name, info) ? static_cast<int>(info.DataSize) : -1;
}

// Reads a value that must have the given type and, when size is not 0, that many bytes.
std::string TRegistry::ReadTyped(const std::string& name, TRegDataType wanted, std::size_t size) {
    TRegDataType type;
    std::string data;
    if (!ReadRaw(name, type, data)) throw ERegistryException(SRegGetDataFailed, name.c_str());
    if (type != wanted || (size != 0 && data.size() != size))
        throw ERegistryException(SInvalidRegType, name.c_str());
    return data;
}

std::string TRegistry::ReadString(const std::string& name) {
    TRegDataType type;
    std::string data;
    if (!ReadRaw(name, type, data)) return {};
    if (type != rdString && type != rdExpandString)
        throw ERegistryException(SInvalidRegType, name.c_str());
    return data;
}

std::int32_t TRegistry::ReadInteger(const std::string& name) {
    const std::string data = ReadTyped(name, rdInteger, 4);
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |=
            static_cast<std::uint32_t>(static_cast<std::uint8_t>(data[static_cast<std::size_t>(i)]))
            << (8 * i);
    return static_cast<std::int32_t>(v);
}

bool TRegistry::ReadBool(const std::string& name) { return ReadInteger(name) != 0; }

double TRegistry::ReadFloat(const std::string& name) {
    const std::string data = ReadTyped(name, rdBinary, sizeof(double));
    double v = 0;
    std::memcpy(&v, data.data(), sizeof v);  // little-endian host, as the stored bytes
    return v;
}

double TRegistry::ReadDateTime(const std::string& name) { return ReadFloat(name); }

std::vector<std::uint8_t> TRegistry::ReadBinaryData(const std::string& name) {
    const std::string data = ReadTyped(name, rdBinary, 0);
    return {data.begin(), data.end()};
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    WriteRaw(name, rdString, value);
}

void TRegistry::WriteExpandString(const std::string& name, const std::string& value) {
    WriteRaw(name, rdExpandString, value);
}

void TRegistry::WriteInteger(const std::string& name, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    std::string data;
    for (int i = 0; i < 4; ++i) data += static_cast<char>((v >> (8 * i)) & 0xFF);
    WriteRaw(name, rdInteger, data);
}

void TRegistry::WriteBool(const std::string& name, bool value) {
    WriteInteger(name, value ? 1 : 0);
}

void TRegistry::WriteFloat(const std::string& name, double value) {
    std::string data(sizeof value, '\0');
    std::memcpy(data.data(), &value, sizeof value);
    WriteRaw(name, rdBinary, data);
}

void TRegistry::WriteDateTime(const std::string& name, double value) { WriteFloat(name, value); }

void TRegistry::WriteBinaryData(const std::string& name, const std::vector<std::uint8_t>& value) {
    WriteRaw(name, rdBinary, std::string(value.begin(), value.end()));
}

}  // namespace pix
