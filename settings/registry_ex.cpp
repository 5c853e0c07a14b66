// SPDX-License-Identifier: MIT
#include "settings/registry_ex.h"

#include "platform/res_strings.h"

namespace pix {
namespace {

HKEY EffectiveRoot(HKEY root) { return IsPredefinedRootKey(root) ? root : HKEY_CURRENT_USER; }

// Runs read on the value when its key and the value exist, else gives the default. A key
// that cannot be opened counts as missing.
template <typename T, typename TReader>
T ReadValue(HKEY root, const std::string& key, const std::string& name, T defaultValue,
            TReader read) {
    TRegistryEx registry(KEY_READ);
    registry.SetRootKey(EffectiveRoot(root));
    if (!registry.OpenKeyAccess(key, KEY_READ, false) || !registry.ValueExists(name))
        return defaultValue;
    return read(registry);
}

template <typename TWriter>
void WriteValue(HKEY root, const std::string& key, const std::string& name, TWriter write) {
    TRegistryEx registry(KEY_WRITE);
    registry.SetRootKey(EffectiveRoot(root));
    if (!registry.OpenKeyAccess(key, KEY_WRITE, true))
        throw ERegistryException(SRegSetDataFailed, name.c_str());
    write(registry);
    registry.CloseKey();
}

}  // namespace

std::string RegistryReadString(HKEY root, const std::string& key, const std::string& name,
                               const std::string& defaultValue) {
    return ReadValue(root, key, name, defaultValue,
                     [&](TRegistryEx& r) { return r.ReadString(name); });
}

std::int32_t RegistryReadInteger(HKEY root, const std::string& key, const std::string& name,
                                 std::int32_t defaultValue) {
    return ReadValue(root, key, name, defaultValue,
                     [&](TRegistryEx& r) { return r.ReadInteger(name); });
}

double RegistryReadFloat(HKEY root, const std::string& key, const std::string& name,
                         double defaultValue) {
    return ReadValue(root, key, name, defaultValue,
                     [&](TRegistryEx& r) { return r.ReadFloat(name); });
}

bool RegistryReadBool(HKEY root, const std::string& key, const std::string& name,
                      bool defaultValue) {
    return ReadValue(root, key, name, defaultValue,
                     [&](TRegistryEx& r) { return r.ReadBool(name); });
}

void RegistryWriteString(HKEY root, const std::string& key, const std::string& name,
                         const std::string& value) {
    WriteValue(root, key, name, [&](TRegistryEx& r) { r.WriteString(name, value); });
}

void RegistryWriteInteger(HKEY root, const std::string& key, const std::string& name,
                          std::int32_t value) {
    WriteValue(root, key, name, [&](TRegistryEx& r) { r.WriteInteger(name, value); });
}

void RegistryWriteFloat(HKEY root, const std::string& key, const std::string& name, double value) {
    WriteValue(root, key, name, [&](TRegistryEx& r) { r.WriteFloat(name, value); });
}

void RegistryWriteBool(HKEY root, const std::string& key, const std::string& name, bool value) {
    WriteValue(root, key, name, [&](TRegistryEx& r) { r.WriteBool(name, value); });
}

}  // namespace pix
