#include "server/registry.h"

#include <algorithm>
#include <vector>

std::string RegistryGuid(REFGUID guid) {
    WCHAR wide[40];
    const int length = StringFromGUID2(guid, wide, 40);
    std::string text;
    for (int i = 0; i + 1 < length; ++i)
        text += char(wide[i]); // the registry form is plain ASCII
    return text;
}

HRESULT ReadDefaultValue(const std::string& key, std::string* value) {
    value->clear();
    HKEY handle = nullptr;
    LONG status = RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle);
    if (status == ERROR_FILE_NOT_FOUND)
        return S_FALSE;
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    char data[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH, type = 0;
    status =
        RegQueryValueExA(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    if (status == ERROR_FILE_NOT_FOUND)
        return S_FALSE;
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return S_FALSE;
    data[std::min<DWORD>(size, MAX_PATH)] = '\0';
    *value = data;
    return S_OK;
}

HRESULT WriteStringValue(const std::string& key, REGSAM access, const char* name,
                         const std::string& value) {
    HKEY handle = nullptr;
    LONG status = RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, access, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    status = RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            DWORD(value.size() + 1));
    RegCloseKey(handle);
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT DeleteKeyTree(HKEY parent, const std::string& key) {
    HKEY handle = nullptr;
    LONG status = RegOpenKeyExA(parent, key.c_str(), 0, KEY_READ | KEY_WRITE, &handle);
    if (status == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    HRESULT hr = S_OK;
    for (;;) {
        char name[256];
        DWORD length = sizeof name;
        status = RegEnumKeyExA(handle, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS)
            break; // ERROR_NO_MORE_ITEMS: no subkey left
        hr = DeleteKeyTree(handle, name);
        if (FAILED(hr))
            break;
    }
    RegCloseKey(handle);
    if (FAILED(hr))
        return hr;
    status = RegDeleteKeyA(parent, key.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK
                                                                     : HRESULT_FROM_WIN32(status);
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileVersion(const std::string& path, ULONGLONG* version) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0)
        return false;
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data()))
        return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) ||
        info == nullptr || length < sizeof *info)
        return false;
    *version = (ULONGLONG(info->dwFileVersionMS) << 32) | info->dwFileVersionLS;
    return true;
}
