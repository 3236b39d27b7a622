// Conversions between the system's narrow strings, the XML layer's wide values and the UTF-8 the
// XML engine holds, and the character rules of XML 1.0.
#pragma once
#include <string>

namespace velmora::xmltext {

// Narrow text is read as UTF-8; a byte that does not start a valid UTF-8 sequence is taken as the
// Latin-1 character of that value, so any narrow text converts and stays writable as XML.
std::wstring NarrowToWide(const std::string& text);
// UTF-8 of the wide text; 16-bit wchar_t is read as UTF-16. Unpaired surrogates and values beyond
// U+10FFFF become U+FFFD.
std::string WideToUtf8(const std::wstring& text);
// Strict UTF-8 decoding (as NarrowToWide).
inline std::wstring Utf8ToWide(const std::string& text) { return NarrowToWide(text); }

// A character an XML 1.0 document can hold (the Char production).
bool IsXmlChar(char32_t c);
// Every character of the wide text is an XML character.
bool IsXmlText(const std::wstring& text);
// The narrow text (as NarrowToWide reads it) holds only XML characters.
bool IsXmlText(const std::string& text);

}  // namespace velmora::xmltext
