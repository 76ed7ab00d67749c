// Secrets on Windows: CNG's system random source, and files made with a protected access list
// that lets only their owner (and the system) in.
#include "platform/SecretFile.h"

#include <windows.h>
#include <bcrypt.h>
#include <sddl.h>

#include <algorithm>

#include "platform/FileSystem.h"
#include "platform/WideText.h"

std::string SecureRandomBytes(size_t count) {
  std::string out(count, '\0');
  for (size_t have = 0; have < count;) {
    const ULONG n = static_cast<ULONG>(std::min<size_t>(count - have, 1u << 30));
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(out.data() + have), n,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      throw EInOutError("BCryptGenRandom failed");
    }
    have += n;
  }
  return out;
}

bool CreatePrivateFile(const std::string& path, const std::string& bytes) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  // Protected (no inherited entries): full access for the owner and the system only.
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;OW)(A;;FA;;;SY)", SDDL_REVISION_1, &sd, nullptr)) {
    throw EInOutError("Unable to create " + path + ": " + SystemErrorText(GetLastError()));
  }
  SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
  const std::wstring wide = WideFromUtf8(path);
  const HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD openError = GetLastError();
  LocalFree(sd);
  if (h == INVALID_HANDLE_VALUE) {
    if (openError == ERROR_FILE_EXISTS) return false;
    throw EInOutError("Unable to create " + path + ": " + SystemErrorText(openError));
  }
  DWORD written = 0;
  const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size() && FlushFileBuffers(h);
  const DWORD writeError = GetLastError();
  CloseHandle(h);
  if (!ok) {
    DeleteFileW(wide.c_str());
    throw EInOutError("Unable to write to " + path + ": " + SystemErrorText(writeError));
  }
  return true;
}

// The access list is set when the file is made; a file that exists is taken as the program's own.
bool IsPrivateFile(const std::string& path) { return FileExists(path); }
