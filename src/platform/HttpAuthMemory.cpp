// Per-device authentication memory: the choice of scheme and the Digest state.
#include "platform/HttpAuthMemory.h"

#include "platform/Http.h"

namespace velmora::platform {

bool OfferedHttpAuthSchemes(const std::vector<std::string_view>& challenges, uint32_t* supported, uint32_t* first) {
    uint32_t schemes = 0;
    uint32_t firstScheme = 0;
    for (std::string_view value : challenges) {
        for (const auto& challenge : http::ParseChallenges(value)) {
            uint32_t scheme = 0;
            http::DigestChallenge digest;
            if (challenge.scheme == "basic") scheme = kHttpAuthBasic;
            else if (http::ToDigestChallenge(challenge, &digest)) scheme = kHttpAuthDigest;
            if (scheme == 0) continue;
            if (firstScheme == 0) firstScheme = scheme;
            schemes |= scheme;
        }
    }
    if (schemes == 0) return false;
    *supported = schemes;
    *first = firstScheme;
    return true;
}

std::string HttpAuthMemory::Key(const std::string& host, uint16_t port, uint32_t target) {
    std::string key;
    for (char c : host) key.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
    return key + ":" + std::to_string(port) + (target == kHttpAuthTargetProxy ? "/proxy" : "/server");
}

std::string HttpAuthMemory::Make(const std::string& key, const HttpAuthRequest& request,
                                 const HttpCredentials& credentials, const NonceSource& cnonce, HttpAuthSent* sent,
                                 bool remembered) {
    *sent = HttpAuthSent();
    Entry entry;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = entries_.find(key);
        if (it == entries_.end() || (credentials.schemes & it->second.scheme) == 0) return {};
        if (it->second.scheme == kHttpAuthDigest) ++it->second.nonceCount;
        entry = it->second;
    }
    sent->scheme = entry.scheme;
    sent->remembered = remembered;
    if (entry.scheme == kHttpAuthBasic) return http::BasicAuthorization(credentials.user, credentials.password);
    sent->nonce = entry.digest.nonce;
    http::DigestInput input{request.method, request.uri, credentials.user, credentials.password,
                            cnonce ? cnonce() : http::RandomClientNonce(), entry.nonceCount};
    return http::DigestAuthorization(entry.digest, input);
}

std::string HttpAuthMemory::Prepare(const HttpAuthRequest& request, const HttpCredentials& credentials,
                                    const NonceSource& cnonce, HttpAuthSent* sent) {
    *sent = HttpAuthSent();
    if (credentials.user.empty()) return {};
    return Make(Key(request.host, request.port, request.target), request, credentials, cnonce, sent, true);
}

bool HttpAuthMemory::Answer(const HttpAuthRequest& request, const std::vector<std::string_view>& challenges,
                            const HttpCredentials& credentials, const NonceSource& cnonce,
                            const HttpAuthSent& previous, std::string* value, HttpAuthSent* sent) {
    if (credentials.user.empty()) return false;
    std::vector<http::AuthChallenge> offered;
    for (std::string_view header : challenges) {
        auto parsed = http::ParseChallenges(header);
        offered.insert(offered.end(), parsed.begin(), parsed.end());
    }
    http::DigestChallenge digest;
    const bool useDigest = (credentials.schemes & kHttpAuthDigest) && http::PickDigestChallenge(offered, &digest);
    bool onlyBasic = !offered.empty();
    for (const auto& challenge : offered) onlyBasic = onlyBasic && challenge.scheme == "basic";
    const bool useBasic = !useDigest && onlyBasic && (credentials.schemes & kHttpAuthBasic);
    if (!useDigest && !useBasic) return false;

    const std::string key = Key(request.host, request.port, request.target);
    bool answer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (entries_.size() >= kMaxServers && entries_.find(key) == entries_.end()) entries_.clear();
        Entry& entry = entries_[key];
        if (useDigest) {
            // A nonce seen before keeps its count, so that no nc value is used twice.
            bool sameNonce = entry.scheme == kHttpAuthDigest && entry.digest.nonce == digest.nonce;
            entry.nonceCount = sameNonce ? entry.nonceCount : 0;
            entry.scheme = kHttpAuthDigest;
            answer = previous.scheme != kHttpAuthDigest || digest.stale ||
                     (previous.remembered && digest.nonce != previous.nonce);
            entry.digest = std::move(digest);
        } else {
            entry.scheme = kHttpAuthBasic;
            answer = previous.scheme != kHttpAuthBasic;
        }
    }
    if (!answer) return false;
    *value = Make(key, request, credentials, cnonce, sent, false);
    return !value->empty();
}

uint32_t HttpAuthMemory::KnownScheme(const std::string& host, uint16_t port, uint32_t target) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(Key(host, port, target));
    return it == entries_.end() ? 0 : it->second.scheme;
}

}  // namespace velmora::platform
