// Narrow/wide/UTF-8 conversions for the XML layer.
#include "Presets/WideText.h"

#include <cstdint>
#include <type_traits>

namespace velmora::xmltext {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kMaxCodePoint = 0x10FFFF;

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when it is not valid UTF-8
// (overlong forms, surrogates and values beyond U+10FFFF included).
size_t DecodeUtf8(const std::string& text, size_t i, char32_t* out) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    size_t length;
    char32_t value;
    char32_t minimum;
    if (lead < 0x80) {
        *out = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = value << 6 | (byte(i + k) & 0x3F);
    }
    if (value < minimum || value > kMaxCodePoint || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *out = value;
    return length;
}

void AppendWide(std::wstring* out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out->push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
            out->push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
            return;
        }
    }
    out->push_back(static_cast<wchar_t>(c));
}

void AppendUtf8(std::string* out, char32_t c) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Next code point of a wide text; pairs UTF-16 surrogates where wchar_t is 16 bits.
char32_t NextWide(const std::wstring& text, size_t* i) {
    char32_t c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[(*i)++]));
    if (c >= 0xD800 && c <= 0xDBFF && sizeof(wchar_t) == 2 && *i < text.size()) {
        char32_t low = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[*i]));
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++*i;
            return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > kMaxCodePoint) return kReplacement;
    return c;
}

}  // namespace

std::wstring NarrowToWide(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t c;
        size_t length = DecodeUtf8(text, i, &c);
        if (length == 0) {
            c = static_cast<uint8_t>(text[i]);
            length = 1;
        }
        AppendWide(&out, c);
        i += length;
    }
    return out;
}

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) AppendUtf8(&out, NextWide(text, &i));
    return out;
}

bool IsXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= kMaxCodePoint);
}

bool IsXmlText(const std::wstring& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t start = i;
        const char32_t c = NextWide(text, &i);
        // A replacement produced for a broken surrogate is not what the caller wrote.
        if (c == kReplacement && text[start] != static_cast<wchar_t>(kReplacement)) return false;
        if (!IsXmlChar(c)) return false;
    }
    return true;
}

bool IsXmlText(const std::string& text) { return IsXmlText(NarrowToWide(text)); }

}  // namespace velmora::xmltext
