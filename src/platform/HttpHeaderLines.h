// Request header lines as both HTTP backends take them from callers: "Name: value" lines
// separated by CR LF, each checked before anything is added. Pure text code.
#pragma once
#include <string_view>
#include <vector>

namespace velmora::platform::http {

struct HeaderLine {
    std::string_view name;
    std::string_view value;  // without surrounding spaces and tabs; may be empty
};

// Splits the lines into fields (empty lines are skipped). False when a line is malformed (no
// colon, a name that is not a token, a line break or NUL in the value), names a field of the
// message framing (Content-Length, Transfer-Encoding: the layer owns them), or when there is no
// line at all; *fields then holds nothing usable.
bool SplitRequestHeaderLines(std::string_view lines, std::vector<HeaderLine>* fields);

// A token (RFC 9110): one or more of the characters allowed in field names.
bool IsHttpToken(std::string_view text);
// The text without leading and trailing spaces and tabs.
std::string_view TrimSpaces(std::string_view text);

}  // namespace velmora::platform::http
