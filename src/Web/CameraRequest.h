// The checked camera request: one GET whose answer must be a 2xx status with a non-empty body,
// its outcome stated in a CResultDef with a message ready for the log. Writes nothing to the log.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "Web/HttpClient.h"
#include "Web/ResultDef.h"
#include "Web/TextUtils.h"

namespace velmora::Utils {

// Qualified name that opens every message of the wrapper.
inline constexpr const char* kSendRequestWrapperName = "velmora::Utils::SendRequestWrapper";

// GET path on the client. Result codes: 0 success (body holds the reply plus one zero byte),
// 11 at level 4 (not sent or no status code; body empty), 8 at level 1 (status outside 2xx;
// body empty, not read), 13 at level 1 (2xx with an empty body; body holds one zero byte).
CResultDef SendRequestWrapper(const std::string& path, std::vector<uint8_t>& body, Web::CHttpClient& client);
// Same, with the record given by the caller: it is reset, filled in, and returned as a copy.
CResultDef SendRequestWrapper(const std::string& path, std::vector<uint8_t>& body, CResultDef& result,
                              Web::CHttpClient& client);

}  // namespace velmora::Utils
