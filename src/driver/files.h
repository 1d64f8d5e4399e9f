#pragma once
// File comparisons used by the program driver.

#include <string>

// True when the two files have the same size and the same bytes; two empty
// files are equal. A file that cannot be opened makes the result false, so
// a missing file never verifies as equal.
bool equalFiles(const std::string& first, const std::string& second);

// What a file name denotes, to tell files apart before anything is opened.
// An existing file is its device and inode, so "./f", "f", hard links and
// symbolic links match. A name that does not exist yet is the absolute,
// normalised path a write would create, symbolic links followed: a dangling
// link is the file at the end of its chain. Keys order and compare, so the
// names of a run can be sorted or mapped.
struct FileKey {
    bool exists = false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    std::string path;  // only when !exists

    bool operator==(const FileKey& o) const;
    bool operator<(const FileKey& o) const;
};
FileKey fileKey(const std::string& name);

// True when the two names denote the same file (equal keys).
bool sameFile(const std::string& a, const std::string& b);

// "standard output" or "standard error" when `name` is the same file as the
// one the program prints its messages to, else empty. Character devices
// (/dev/null, a terminal) do not count: writing to them loses nothing.
std::string standardStreamOf(const std::string& name);
