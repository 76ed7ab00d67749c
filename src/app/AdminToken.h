// The admin token: the secret every call of the operator's browser console carries. Made once from
// the operating system's secure source and kept in a file only its owner may read, so it survives
// restarts; compared in constant time. Any thread.
#pragma once

#include <string>
#include <string_view>

// The token file's default name, in the working directory.
inline constexpr char kAdminTokenFile[] = "admin.token";

// The token kept in `path`, made and stored there (owner-only) when the file does not exist.
// Throws EInOutError when the file cannot be made or read, is readable by others than its owner,
// or holds no usable token.
std::string LoadOrCreateAdminToken(const std::string& path);

// The credentials of an "Authorization: Bearer <token>" line of raw request headers ("Name: value"
// CR LF each); empty when there is none, or more than one Authorization line.
std::string_view BearerToken(std::string_view inHeaders);

// True when `given` equals `token`, taking the same time whatever the bytes of `given`.
bool SameToken(std::string_view given, std::string_view token);
