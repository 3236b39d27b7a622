// Basic and Digest verification, challenges and nonces.
#include "httpserver/Authenticator.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <atomic>
#include <cctype>

namespace camsim {

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string RandomHex(size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    if (RAND_bytes(raw.data(), static_cast<int>(raw.size())) != 1) {
        // Without entropy the nonce still has to be unique; a counter keeps it so.
        static std::atomic<uint64_t> counter{0};
        uint64_t v = ++counter;
        for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<unsigned char>(v >> (8 * (i % 8)));
    }
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : raw) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string_view SkipSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

// Splits "Scheme rest" of an Authorization value.
bool SplitScheme(std::string_view value, std::string_view* scheme, std::string_view* rest) {
    value = SkipSpaces(value);
    size_t sp = value.find_first_of(" \t");
    *scheme = value.substr(0, sp);
    *rest = sp == std::string_view::npos ? std::string_view() : SkipSpaces(value.substr(sp));
    return !scheme->empty();
}

bool IsHex(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string Param(const std::map<std::string, std::string>& params, const char* name) {
    auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
}

}  // namespace

std::string Base64Encode(std::string_view data) {
    std::string out;
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        uint32_t v = uint32_t(uint8_t(data[i])) << 16 | uint32_t(uint8_t(data[i + 1])) << 8 | uint8_t(data[i + 2]);
        for (int s = 18; s >= 0; s -= 6) out.push_back(kBase64Alphabet[(v >> s) & 63]);
    }
    if (i < data.size()) {
        uint32_t v = uint32_t(uint8_t(data[i])) << 16;
        if (i + 1 < data.size()) v |= uint32_t(uint8_t(data[i + 1])) << 8;
        out.push_back(kBase64Alphabet[(v >> 18) & 63]);
        out.push_back(kBase64Alphabet[(v >> 12) & 63]);
        out.push_back(i + 1 < data.size() ? kBase64Alphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

bool Base64Decode(std::string_view text, std::string* out) {
    out->clear();
    if (text.size() % 4 != 0) return false;
    uint32_t acc = 0;
    int bits = 0;
    size_t padding = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '=') {
            // Padding only at the end, at most two.
            if (i + 2 < text.size()) return false;
            ++padding;
            continue;
        }
        if (padding) return false;
        const char* p = std::find(kBase64Alphabet, kBase64Alphabet + 64, c);
        if (p == kBase64Alphabet + 64) return false;
        acc = (acc << 6) | static_cast<uint32_t>(p - kBase64Alphabet);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out->push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return padding <= 2;
}

std::string HexDigest(DigestAlgorithm algorithm, std::string_view data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const EVP_MD* md = algorithm == DigestAlgorithm::Md5 ? EVP_md5() : EVP_sha256();
    if (EVP_Digest(data.data(), data.size(), digest, &length, md, nullptr) != 1) return {};
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(digits[digest[i] >> 4]);
        out.push_back(digits[digest[i] & 15]);
    }
    return out;
}

std::map<std::string, std::string> ParseAuthParams(std::string_view text) {
    std::map<std::string, std::string> params;
    size_t i = 0;
    auto skip = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    while (i < text.size()) {
        skip();
        size_t start = i;
        while (i < text.size() && text[i] != '=' && text[i] != ' ' && text[i] != '\t' && text[i] != ',') ++i;
        std::string name(text.substr(start, i - start));
        skip();
        if (name.empty() || i >= text.size() || text[i] != '=') return {};
        ++i;
        skip();
        std::string value;
        if (i < text.size() && text[i] == '"') {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                char c = text[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < text.size()) c = text[i++];
                value.push_back(c);
            }
            if (!closed) return {};
        } else {
            size_t vstart = i;
            while (i < text.size() && text[i] != ',' && text[i] != ' ' && text[i] != '\t') ++i;
            value.assign(text.substr(vstart, i - vstart));
        }
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        params[name] = value;
        skip();
        if (i < text.size()) {
            if (text[i] != ',') return {};
            ++i;
        }
    }
    return params;
}

std::string DigestResponse(DigestAlgorithm algorithm, std::string_view user, std::string_view realm,
                           std::string_view password, std::string_view method, std::string_view uri,
                           std::string_view nonce, std::string_view nc, std::string_view cnonce) {
    auto join = [](std::initializer_list<std::string_view> parts) {
        std::string s;
        bool first = true;
        for (std::string_view p : parts) {
            if (!first) s.push_back(':');
            first = false;
            s.append(p);
        }
        return s;
    };
    std::string ha1 = HexDigest(algorithm, join({user, realm, password}));
    std::string ha2 = HexDigest(algorithm, join({method, uri}));
    return HexDigest(algorithm, join({ha1, nonce, nc, cnonce, "auth", ha2}));
}

Authenticator::Authenticator() : opaque_(RandomHex(16)) {}

void Authenticator::Configure(const AuthSettings& settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = settings;
}

AuthSettings Authenticator::Settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

void Authenticator::SetNonceSource(NonceSource source) {
    std::lock_guard<std::mutex> lock(mutex_);
    nonceSource_ = std::move(source);
}

void Authenticator::SetOpaque(std::string opaque) {
    std::lock_guard<std::mutex> lock(mutex_);
    opaque_ = std::move(opaque);
}

AuthVerdict Authenticator::Check(const RequestHead& head) {
    AuthSettings s = Settings();
    if (s.mode == AuthMode::None) return AuthVerdict::Accepted;
    std::optional<std::string> value = head.Find("Authorization");
    if (!value) return AuthVerdict::Missing;
    std::string_view scheme, rest;
    if (!SplitScheme(*value, &scheme, &rest)) return AuthVerdict::Refused;
    bool basic = s.mode == AuthMode::Basic || s.mode == AuthMode::Both;
    bool digest = s.mode == AuthMode::Digest || s.mode == AuthMode::Both;
    if (EqualsIgnoreCase(scheme, "Basic")) return basic ? CheckBasic(rest, s) : AuthVerdict::Refused;
    if (EqualsIgnoreCase(scheme, "Digest")) return digest ? CheckDigest(rest, head, s) : AuthVerdict::Refused;
    return AuthVerdict::Refused;
}

AuthVerdict Authenticator::CheckBasic(std::string_view credentials, const AuthSettings& s) const {
    std::string decoded;
    if (!Base64Decode(credentials, &decoded)) return AuthVerdict::Refused;
    return decoded == s.user + ":" + s.password ? AuthVerdict::Accepted : AuthVerdict::Refused;
}

AuthVerdict Authenticator::CheckDigest(std::string_view text, const RequestHead& head, const AuthSettings& s) {
    std::map<std::string, std::string> p = ParseAuthParams(text);
    std::string algorithmName = Param(p, "algorithm");
    DigestAlgorithm algorithm;
    if (algorithmName.empty() || EqualsIgnoreCase(algorithmName, "MD5")) {
        if (!s.offerMd5) return AuthVerdict::Refused;
        algorithm = DigestAlgorithm::Md5;
    } else if (EqualsIgnoreCase(algorithmName, "SHA-256")) {
        if (!s.offerSha256) return AuthVerdict::Refused;
        algorithm = DigestAlgorithm::Sha256;
    } else {
        return AuthVerdict::Refused;  // the -sess variants and anything else are not offered
    }
    std::string nonce = Param(p, "nonce"), nc = Param(p, "nc"), cnonce = Param(p, "cnonce");
    if (Param(p, "username") != s.user || Param(p, "realm") != s.realm || Param(p, "uri") != head.target ||
        Param(p, "qop") != "auth" || nonce.empty() || cnonce.empty() || nc.size() != 8 || !IsHex(nc) ||
        Param(p, "userhash") == "true") {
        return AuthVerdict::Refused;
    }
    std::string opaque = Param(p, "opaque");
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (p.count("opaque") && opaque != opaque_) return AuthVerdict::Refused;
    }
    std::string expected = DigestResponse(algorithm, s.user, s.realm, s.password, head.method, head.target, nonce,
                                          nc, cnonce);
    if (!EqualsIgnoreCase(Param(p, "response"), expected)) return AuthVerdict::Refused;
    std::lock_guard<std::mutex> lock(mutex_);
    bool known = std::find(nonces_.begin(), nonces_.end(), nonce) != nonces_.end();
    return known ? AuthVerdict::Accepted : AuthVerdict::StaleNonce;
}

std::vector<std::string> Authenticator::Challenges(bool stale) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    const AuthSettings& s = settings_;
    std::string realm = "realm=\"" + s.realm + "\"";
    if (s.mode == AuthMode::Digest || s.mode == AuthMode::Both) {
        auto digest = [&](const char* algorithm) {
            std::string nonce = nonceSource_ ? nonceSource_() : RandomHex(24);
            nonces_.push_back(nonce);
            if (nonces_.size() > kMaxRememberedNonces) nonces_.pop_front();
            std::string c = "Digest " + realm + ", qop=\"auth\", algorithm=" + algorithm + ", nonce=\"" + nonce +
                            "\", opaque=\"" + opaque_ + "\"";
            if (stale) c += ", stale=true";
            out.push_back(c);
        };
        if (s.offerSha256) digest("SHA-256");
        if (s.offerMd5) digest("MD5");
    }
    if (s.mode != AuthMode::Digest) out.push_back("Basic " + realm + ", charset=\"UTF-8\"");
    return out;
}

}  // namespace camsim
