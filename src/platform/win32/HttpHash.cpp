// The system hook of the shared authentication code: hashes and random bytes from Windows'
// own cryptography API (bcrypt).
#include <windows.h>
#include <bcrypt.h>

#include "platform/HttpDigest.h"

namespace velmora::platform::http {

std::string HexHash(DigestAlgorithm algorithm, std::string_view data) {
    bool sha256 = algorithm == DigestAlgorithm::Sha256 || algorithm == DigestAlgorithm::Sha256Sess;
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, sha256 ? BCRYPT_SHA256_ALGORITHM : BCRYPT_MD5_ALGORITHM,
                                                    nullptr, 0)))
        return {};
    // Create/Hash/Finish rather than BCryptHash, which older Windows lacks.
    unsigned char out[32];
    ULONG length = sha256 ? 32 : 16;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0));
    ok = ok && BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                             static_cast<ULONG>(data.size()), 0));
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, out, length, 0));
    if (hash) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(provider, 0);
    return ok ? HexEncode(out, length) : std::string();
}

std::string RandomClientNonce() {
    unsigned char bytes[kClientNonceBytes];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return {};
    return HexEncode(bytes, sizeof(bytes));
}

}  // namespace velmora::platform::http
