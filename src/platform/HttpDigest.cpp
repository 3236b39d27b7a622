// Challenge parsing, Basic and Digest credentials, shared by every HTTP backend.
#include "platform/HttpDigest.h"

#include <cstdio>

namespace velmora::platform::http {

namespace {

bool IsToken68Char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == '+' || c == '/';
}

char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string ToLowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = LowerChar(c);
    return out;
}

// A small cursor over the header value.
class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}
    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    void SkipSpace() {
        while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    }
    // Skips white space and commas (empty list elements are allowed).
    void SkipListSeparators() {
        while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == ',')) ++pos_;
    }
    std::string_view Token() {
        size_t start = pos_;
        while (!AtEnd() && IsTokenChar(text_[pos_])) ++pos_;
        return text_.substr(start, pos_ - start);
    }
    bool QuotedString(std::string* out) {
        if (Peek() != '"') return false;
        ++pos_;
        while (!AtEnd()) {
            char c = text_[pos_++];
            if (c == '"') return true;
            if (c == '\\') {
                if (AtEnd()) return false;
                c = text_[pos_++];
            }
            out->push_back(c);
        }
        return false;  // unterminated
    }
    size_t Position() const { return pos_; }
    void Seek(size_t pos) { pos_ = pos; }
    std::string_view Rest() const { return text_.substr(pos_); }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

// Reads "name = value" at the cursor; false (cursor unchanged) when the next item is not a
// parameter, which means a new challenge starts there.
bool ReadParam(Scanner& s, std::pair<std::string, std::string>* param, bool* malformed) {
    size_t start = s.Position();
    std::string_view name = s.Token();
    s.SkipSpace();
    if (name.empty() || s.Peek() != '=') {
        s.Seek(start);
        return false;
    }
    s.Seek(s.Position() + 1);
    s.SkipSpace();
    std::string value;
    if (s.Peek() == '"') {
        if (!s.QuotedString(&value)) {
            *malformed = true;
            return false;
        }
    } else {
        std::string_view token = s.Token();
        if (token.empty()) {
            *malformed = true;
            return false;
        }
        value.assign(token);
    }
    *param = {ToLowerAscii(name), std::move(value)};
    return true;
}

// token68 after the scheme: token68 chars then optional '=' padding, followed by a list end.
bool ReadToken68(Scanner& s, std::string* out) {
    size_t start = s.Position();
    std::string_view rest = s.Rest();
    size_t n = 0;
    while (n < rest.size() && IsToken68Char(rest[n])) ++n;
    if (n == 0) return false;
    while (n < rest.size() && rest[n] == '=') ++n;
    size_t after = n;
    while (after < rest.size() && (rest[after] == ' ' || rest[after] == '\t')) ++after;
    if (after < rest.size() && rest[after] != ',') return false;  // not token68: an auth-param list
    out->assign(rest.substr(0, n));
    s.Seek(start + n);
    return true;
}

std::string QuoteString(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

bool IsSess(DigestAlgorithm a) { return a == DigestAlgorithm::Md5Sess || a == DigestAlgorithm::Sha256Sess; }

int Strength(DigestAlgorithm a) {
    return (a == DigestAlgorithm::Sha256 || a == DigestAlgorithm::Sha256Sess) ? 2 : 1;
}

}  // namespace

const std::string* AuthChallenge::Param(std::string_view name) const {
    for (const auto& p : params)
        if (p.first == name) return &p.second;
    return nullptr;
}

std::vector<AuthChallenge> ParseChallenges(std::string_view value) {
    std::vector<AuthChallenge> out;
    Scanner s(value);
    s.SkipListSeparators();
    while (!s.AtEnd() && out.size() < kMaxChallengesPerHeader) {
        std::string_view scheme = s.Token();
        if (scheme.empty()) break;
        AuthChallenge challenge;
        challenge.scheme = ToLowerAscii(scheme);
        s.SkipSpace();
        bool malformed = false;
        if (!ReadToken68(s, &challenge.token68)) {
            for (;;) {
                s.SkipListSeparators();
                std::pair<std::string, std::string> param;
                if (!ReadParam(s, &param, &malformed)) break;
                if (challenge.params.size() < kMaxParamsPerChallenge) challenge.params.push_back(std::move(param));
            }
        }
        out.push_back(std::move(challenge));
        if (malformed) break;
        s.SkipListSeparators();
    }
    return out;
}

bool ToDigestChallenge(const AuthChallenge& challenge, DigestChallenge* digest) {
    if (challenge.scheme != "digest") return false;
    const std::string* realm = challenge.Param("realm");
    const std::string* nonce = challenge.Param("nonce");
    if (!realm || !nonce || nonce->empty()) return false;
    DigestChallenge d;
    d.realm = *realm;
    d.nonce = *nonce;
    if (const std::string* opaque = challenge.Param("opaque")) d.opaque = *opaque;
    if (const std::string* algorithm = challenge.Param("algorithm")) {
        d.algorithmToken = *algorithm;
        if (EqualsIgnoreCase(*algorithm, "MD5")) d.algorithm = DigestAlgorithm::Md5;
        else if (EqualsIgnoreCase(*algorithm, "MD5-sess")) d.algorithm = DigestAlgorithm::Md5Sess;
        else if (EqualsIgnoreCase(*algorithm, "SHA-256")) d.algorithm = DigestAlgorithm::Sha256;
        else if (EqualsIgnoreCase(*algorithm, "SHA-256-sess")) d.algorithm = DigestAlgorithm::Sha256Sess;
        else return false;
    }
    if (const std::string* qop = challenge.Param("qop")) {
        // Only "auth" is performed; "auth-int" alone would need the body's hash.
        if (!HasToken(*qop, "auth")) return false;
        d.qopAuth = true;
    } else if (IsSess(d.algorithm)) {
        return false;  // the -sess forms need a cnonce, which only comes with qop
    }
    if (const std::string* userhash = challenge.Param("userhash")) d.userhash = EqualsIgnoreCase(*userhash, "true");
    if (const std::string* stale = challenge.Param("stale")) d.stale = EqualsIgnoreCase(*stale, "true");
    *digest = std::move(d);
    return true;
}

bool PickDigestChallenge(const std::vector<AuthChallenge>& challenges, DigestChallenge* digest) {
    bool found = false;
    for (const auto& c : challenges) {
        DigestChallenge d;
        if (!ToDigestChallenge(c, &d)) continue;
        if (!found || Strength(d.algorithm) > Strength(digest->algorithm)) {
            *digest = std::move(d);
            found = true;
        }
    }
    return found;
}

std::string HexEncode(const unsigned char* bytes, size_t size) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        hex.push_back(kHex[bytes[i] >> 4]);
        hex.push_back(kHex[bytes[i] & 0x0F]);
    }
    return hex;
}

std::string DigestResponse(const DigestChallenge& c, const DigestInput& in) {
    auto h = [&](const std::string& s) { return HexHash(c.algorithm, s); };
    std::string ha1 = h(in.user + ":" + c.realm + ":" + in.password);
    if (IsSess(c.algorithm)) ha1 = h(ha1 + ":" + c.nonce + ":" + in.cnonce);
    std::string ha2 = h(in.method + ":" + in.uri);
    if (!c.qopAuth) return h(ha1 + ":" + c.nonce + ":" + ha2);
    char nc[9];
    std::snprintf(nc, sizeof(nc), "%08x", in.nc);
    return h(ha1 + ":" + c.nonce + ":" + nc + ":" + in.cnonce + ":auth:" + ha2);
}

std::string DigestAuthorization(const DigestChallenge& c, const DigestInput& in) {
    std::string user = c.userhash ? HexHash(c.algorithm, in.user + ":" + c.realm) : in.user;
    std::string out = "Digest username=" + QuoteString(user) + ", realm=" + QuoteString(c.realm) +
                      ", uri=" + QuoteString(in.uri);
    if (!c.algorithmToken.empty()) out += ", algorithm=" + c.algorithmToken;
    out += ", nonce=" + QuoteString(c.nonce);
    if (c.qopAuth) {
        char nc[9];
        std::snprintf(nc, sizeof(nc), "%08x", in.nc);
        out += std::string(", nc=") + nc + ", cnonce=" + QuoteString(in.cnonce) + ", qop=auth";
    }
    out += ", response=" + QuoteString(DigestResponse(c, in));
    if (!c.opaque.empty()) out += ", opaque=" + QuoteString(c.opaque);
    if (c.userhash) out += ", userhash=true";
    return out;
}

std::string Base64Encode(std::string_view data) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        uint32_t v = (uint8_t(data[i]) << 16) | (uint8_t(data[i + 1]) << 8) | uint8_t(data[i + 2]);
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back(kAlphabet[v & 63]);
    }
    size_t rest = data.size() - i;
    if (rest > 0) {
        uint32_t v = uint8_t(data[i]) << 16;
        if (rest == 2) v |= uint8_t(data[i + 1]) << 8;
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::string BasicAuthorization(const std::string& user, const std::string& password) {
    return "Basic " + Base64Encode(user + ":" + password);
}

bool IsTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
        case '-': case '.': case '^': case '_': case '`': case '|': case '~':
            return true;
        default:
            return false;
    }
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerChar(a[i]) != LowerChar(b[i])) return false;
    return true;
}

bool HasToken(std::string_view list, std::string_view token) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string_view item = list.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
        if (EqualsIgnoreCase(item, token)) return true;
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return false;
}

}  // namespace velmora::platform::http
