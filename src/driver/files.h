#pragma once
// File comparisons used by the program driver.

#include <string>

// True when the two files have the same size and the same bytes; two empty
// files are equal. A file that cannot be opened makes the result false, so
// a missing file never verifies as equal.
bool equalFiles(const std::string& first, const std::string& second);

// True when the two names denote the same file: for existing files, the same
// device and inode (so "./f", "f", hard links and symbolic links match);
// otherwise the same absolute, normalised path.
bool sameFile(const std::string& a, const std::string& b);
