// The system hook of the shared authentication code: hashes and random bytes from OpenSSL's
// libcrypto.
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "platform/HttpDigest.h"

namespace velmora::platform::http {

std::string HexHash(DigestAlgorithm algorithm, std::string_view data) {
    const EVP_MD* md = (algorithm == DigestAlgorithm::Sha256 || algorithm == DigestAlgorithm::Sha256Sess)
                           ? EVP_sha256()
                           : EVP_md5();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), out, &length, md, nullptr) != 1) return {};
    return HexEncode(out, length);
}

std::string RandomClientNonce() {
    unsigned char bytes[kClientNonceBytes];
    if (RAND_bytes(bytes, sizeof(bytes)) != 1) return {};
    return HexEncode(bytes, sizeof(bytes));
}

}  // namespace velmora::platform::http
