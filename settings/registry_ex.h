// SPDX-License-Identifier: MIT
// The one pair of registry routines the main form keeps its last folder with: read a value
// with a default, write a value creating its key.
#pragma once

#include "platform/registry.h"

#include <cstdint>
#include <string>

namespace pix {

// The registry accessor with one added operation: open a key with a given access mask.
class TRegistryEx : public TRegistry {
public:
    using TRegistry::TRegistry;
    bool OpenKeyAccess(const std::string& key, REGSAM access, bool canCreate) {
        return OpenKeyWithAccess(key, access, canCreate);
    }
};

// Read (root, key path, value name, default): the key is opened for reading and never
// made; a missing key or value gives the default. A value stored with another type than
// the default's raises SInvalidRegType. A root that is not predefined means
// HKEY_CURRENT_USER; a key path is taken from the root with or without a leading "\".
std::string RegistryReadString(HKEY root, const std::string& key, const std::string& name,
                               const std::string& defaultValue);
std::int32_t RegistryReadInteger(HKEY root, const std::string& key, const std::string& name,
                                 std::int32_t defaultValue);
double RegistryReadFloat(HKEY root, const std::string& key, const std::string& name,
                         double defaultValue);
bool RegistryReadBool(HKEY root, const std::string& key, const std::string& name,
                      bool defaultValue);

// Write (root, key path, value name, value): the key is opened for writing and made when
// missing; when that fails, SRegSetDataFailed names the value.
void RegistryWriteString(HKEY root, const std::string& key, const std::string& name,
                         const std::string& value);
void RegistryWriteInteger(HKEY root, const std::string& key, const std::string& name,
                          std::int32_t value);
void RegistryWriteFloat(HKEY root, const std::string& key, const std::string& name, double value);
void RegistryWriteBool(HKEY root, const std::string& key, const std::string& name, bool value);

}  // namespace pix
