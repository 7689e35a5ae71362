// A private temporary directory for the duration of a test: the process's temporary
// directory variables (TMPDIR, TMP, TEMP) point into it, so files a download leaves
// behind can be counted without other tests' files in the way.
#pragma once

#include <string>

class ScopedTempDirectory {
public:
    ScopedTempDirectory();
    // Restores the variables and removes the directory with its contents.
    ~ScopedTempDirectory();

    const std::string& Path() const { return m_path; }
    // How many entries the directory holds.
    size_t FileCount() const;
    // FileCount plus, on POSIX, the descriptors of this process open on files in the
    // directory, unlinked ones included (a system temporary file has no entry there).
    // On Windows an open temporary file keeps its entry, so FileCount alone sees it.
    size_t LeftoverCount() const;

private:
    ScopedTempDirectory(const ScopedTempDirectory&) = delete;
    ScopedTempDirectory& operator=(const ScopedTempDirectory&) = delete;

    std::string m_path;
    std::string m_saved[3];
};

// Sets (or with an empty value removes) an environment variable of this process.
void SetEnvironment(const char* name, const std::string& value);
