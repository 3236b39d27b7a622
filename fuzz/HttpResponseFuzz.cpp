// Fuzz target for the HTTP layer's response parsing: head, framing, chunked body and the
// authentication challenges it may carry. Must never crash, hang or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/HttpDigest.h"
#include "platform/posix/HttpParser.h"

using namespace velmora::platform::http;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResponseHead head;
    size_t consumed = 0;
    size_t searched = 0;
    // Fed in two parts, as it would arrive from a socket.
    size_t half = size / 2;
    if (ParseResponseHead(data, half, &head, &consumed, &searched) != ParseStatus::Done &&
        ParseResponseHead(data, size, &head, &consumed, &searched) != ParseStatus::Done)
        return 0;
    BodyFraming framing;
    if (DetermineFraming(head, false, &framing) && framing.kind == BodyKind::Chunked) {
        ChunkedDecoder decoder;
        size_t pos = consumed;
        while (pos < size && !decoder.Done() && !decoder.Failed()) {
            if (decoder.DataRemaining() > 0) {
                uint64_t n = decoder.DataRemaining() < size - pos ? decoder.DataRemaining() : size - pos;
                decoder.ConsumeData(n);
                pos += static_cast<size_t>(n);
            } else {
                pos += decoder.Parse(data + pos, size - pos);
            }
        }
    }
    for (auto value : head.FindAll("WWW-Authenticate")) {
        DigestChallenge digest;
        if (PickDigestChallenge(ParseChallenges(value), &digest)) {
            DigestInput input{"GET", "/", "u", "p", "c", 1};
            (void)DigestAuthorization(digest, input);
        }
    }
    return 0;
}
