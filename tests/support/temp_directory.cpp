#include "tests/support/temp_directory.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <system_error>

namespace {

const char* const kVariables[] = {"TMPDIR", "TMP", "TEMP"};

} // namespace

void SetEnvironment(const char* name, const std::string& value) {
#ifndef _WIN32
    // The Windows runtime removes a variable given "NAME="; glibc would keep it, empty.
    if (value.empty()) {
        unsetenv(name);
        return;
    }
#endif
    // putenv keeps the string it is given; a list never moves its elements.
    static std::list<std::string> strings;
    strings.push_back(std::string(name) + "=" + value);
    putenv(strings.back().data());
}

ScopedTempDirectory::ScopedTempDirectory() {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("kvssf-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path);
    m_path = path.string();
    for (size_t i = 0; i < 3; ++i) {
        const char* value = std::getenv(kVariables[i]);
        m_saved[i] = value ? value : "";
        SetEnvironment(kVariables[i], m_path);
    }
}

ScopedTempDirectory::~ScopedTempDirectory() {
    for (size_t i = 0; i < 3; ++i)
        SetEnvironment(kVariables[i], m_saved[i]);
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

size_t ScopedTempDirectory::FileCount() const {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_path)) {
        (void)entry;
        ++count;
    }
    return count;
}

size_t ScopedTempDirectory::LeftoverCount() const {
    size_t count = FileCount();
#ifndef _WIN32
    const std::string prefix = m_path + "/";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        count += !error && target.compare(0, prefix.size(), prefix) == 0;
    }
#endif
    return count;
}
