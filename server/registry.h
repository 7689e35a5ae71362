// The registry operations of registration, under HKEY_CLASSES_ROOT. Failures are
// HRESULT_FROM_WIN32 of the registry's code.
#pragma once

#include <string>

#include "framework/platform/platform.h"

// "{BEF63784-0614-4166-9A64-F91744410DAE}", as StringFromGUID2 writes it.
std::string RegistryGuid(REFGUID guid);

// The default value of a key, as text; S_FALSE when the key or value is absent.
HRESULT ReadDefaultValue(const std::string& key, std::string* value);

// Creates or opens the key with the given access and writes one REG_SZ value (null
// name: the default value), its terminating zero included.
HRESULT WriteStringValue(const std::string& key, REGSAM access, const char* name,
                         const std::string& value);

// Deletes a key with all its subkeys, deepest first; a missing key is success. The
// first failure on the way ends the deletion.
HRESULT DeleteKeyTree(HKEY parent, const std::string& key);

// TRUE when the file exists.
bool FileExists(const std::string& path);

// The file's VS_FIXEDFILEINFO version, most significant word first; FALSE when the file
// has no version information.
bool FileVersion(const std::string& path, ULONGLONG* version);
