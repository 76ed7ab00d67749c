// Secrets the program keeps for itself: random bytes from the operating system's secure source and
// files only their owner may read. Any thread.
#pragma once

#include <string>

// `count` bytes from the operating system's cryptographically secure source. Throws EInOutError
// when it cannot give them.
std::string SecureRandomBytes(size_t count);

// Creates `path` readable and writable by its owner only, holding `bytes`. False, touching nothing,
// when the file already exists; throws EInOutError when it cannot be made (a file begun is removed).
bool CreatePrivateFile(const std::string& path, const std::string& bytes);

// True when the file exists and neither its group nor others may read or write it.
bool IsPrivateFile(const std::string& path);
