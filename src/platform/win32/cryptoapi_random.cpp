#include "platform/win32/cryptoapi_random.h"

#include <windows.h>
#include <wincrypt.h>

namespace tw {

bool CryptoApiRandom::randomBytes(std::uint8_t* out, std::size_t length) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    return false;
  }
  BOOL ok = CryptGenRandom(provider, static_cast<DWORD>(length), out);
  CryptReleaseContext(provider, 0);
  return ok != FALSE;
}

EntropyHints CryptoApiRandom::entropyHints() {
  EntropyHints hints;
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  hints.performanceCounter = static_cast<std::uint64_t>(counter.QuadPart);
  hints.tickMs = GetTickCount64();
  hints.processId = GetCurrentProcessId();
  return hints;
}

}  // namespace tw
