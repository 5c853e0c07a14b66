// SPDX-License-Identifier: MIT
// Typed settings under the predefined root keys, stored as one INI file per root key.
#pragma once

#include "platform/error.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pix {

// A root key. Any 32-bit value can be held; only the predefined ones name a store.
enum HKEY : std::uint32_t {
    HKEY_CLASSES_ROOT = 0x80000000u,
    HKEY_CURRENT_USER = 0x80000001u,
    HKEY_LOCAL_MACHINE = 0x80000002u,
    HKEY_USERS = 0x80000003u,
    HKEY_PERFORMANCE_DATA = 0x80000004u,
    HKEY_CURRENT_CONFIG = 0x80000005u,
    HKEY_DYN_DATA = 0x80000006u,
};

// True for HKEY_CLASSES_ROOT up to HKEY_DYN_DATA.
bool IsPredefinedRootKey(HKEY root);

// Access rights asked for when a key is opened.
using REGSAM = std::uint32_t;
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// The stored type of a value. Floating-point and date-time values are 8-byte binary data,
// Booleans are integers.
enum TRegDataType : std::uint8_t { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

struct TRegDataInfo {
    TRegDataType RegData = rdUnknown;
    std::uint32_t DataSize = 0;
};

// A value could not be read or written, or it has another type than asked for.
class ERegistryException : public EPixError {
public:
    using EPixError::EPixError;
};

// Where a root key's file lies. Normally the user's config folder (HKEY_CURRENT_USER and the
// other per-user roots) or the system config folder (HKEY_LOCAL_MACHINE); when a folder is
// set here, or in the environment variable PIXORAMA_REGISTRY_DIR, every root key is the file
// "<folder>/<root key name>.ini" instead. An empty folder goes back to the normal places.
void SetRegistryRootFolderForTesting(const std::string& folder);
std::string RegistryFileName(HKEY root);

// An accessor of one root key with at most one open (current) key. Key paths use "\"
// between their parts; a path that begins with "\" counts from the root, any other from
// the current key. Key and value names are compared without regard to case. The empty
// value name is the key's default value.
class TRegistry {
public:
    TRegistry();  // HKEY_CURRENT_USER, KEY_ALL_ACCESS
    explicit TRegistry(REGSAM access);
    virtual ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return FRootKey; }
    void SetRootKey(HKEY root);  // closes the current key
    REGSAM Access() const { return FAccess; }
    void SetAccess(REGSAM access) { FAccess = access; }
    // The open key's path from the root, parts joined by "\" without a leading one, in the
    // spelling the key was stored with; empty when none is open.
    std::string CurrentPath() const;
    bool HasCurrentKey() const { return FOpen; }

    // Opens a key with the accessor's Access; false when it is missing and may not be made.
    bool OpenKey(const std::string& key, bool canCreate);
    bool OpenKeyReadOnly(const std::string& key);
    void CloseKey();
    bool CreateKey(const std::string& key);
    bool DeleteKey(const std::string& key);
    bool KeyExists(const std::string& key);
    std::vector<std::string> GetKeyNames();
    std::vector<std::string> GetValueNames();

    bool ValueExists(const std::string& name);
    bool DeleteValue(const std::string& name);
    bool GetDataInfo(const std::string& name, TRegDataInfo& info);
    TRegDataType GetDataType(const std::string& name);
    int GetDataSize(const std::string& name);  // -1 when the value is missing

    // A missing string value reads as empty text; every other missing value raises
    // SRegGetDataFailed. A value of another type raises SInvalidRegType.
    std::string ReadString(const std::string& name);
    std::int32_t ReadInteger(const std::string& name);
    bool ReadBool(const std::string& name);
    double ReadFloat(const std::string& name);
    double ReadDateTime(const std::string& name);
    std::vector<std::uint8_t> ReadBinaryData(const std::string& name);

    // Raise SRegSetDataFailed when no key is open, the key was opened without the right to
    // set values, or the file cannot be written.
    void WriteString(const std::string& name, const std::string& value);
    void WriteExpandString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, std::int32_t value);
    void WriteBool(const std::string& name, bool value);
    void WriteFloat(const std::string& name, double value);
    void WriteDateTime(const std::string& name, double value);
    void WriteBinaryData(const std::string& name, const std::vector<std::uint8_t>& value);

protected:
    // Opens a key with the given access instead of the accessor's own.
    bool OpenKeyWithAccess(const std::string& key, REGSAM access, bool canCreate);

private:
    struct TStore;
    TStore& Store();
    std::string Resolve(const std::string& key, bool& found, bool create);
    bool ReadRaw(const std::string& name, TRegDataType& type, std::string& data);
    void WriteRaw(const std::string& name, TRegDataType type, const std::string& data);
    std::string ReadTyped(const std::string& name, TRegDataType wanted, std::size_t size);

    HKEY FRootKey = HKEY_CURRENT_USER;
    REGSAM FAccess = KEY_ALL_ACCESS;
    REGSAM FKeyAccess = 0;
    bool FOpen = false;
    std::string FCurrentPath;  // the open key as a settings group: escaped parts joined by "/"
    std::unique_ptr<TStore> FStore;
};

}  // namespace pix
