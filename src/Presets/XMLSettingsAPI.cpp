// Path-addressed settings over a pugixml document: load with whitespace kept, XPath single-node
// selection, element creation with indentation text, raw save.
#include "Presets/XMLSettingsAPI.h"

#include <pugixml.hpp>

#include <cctype>
#include <cstdio>
#include <cwchar>
#include <sstream>
#include <vector>

#include "Presets/WideText.h"
#include "platform/File.h"
#include "platform/System.h"

namespace velmora {

namespace {

constexpr unsigned kLoadOptions = pugi::parse_full | pugi::parse_ws_pcdata;
// The document is written exactly as it stands: no indentation, no declaration of pugixml's own.
constexpr unsigned kSaveOptions = pugi::format_raw | pugi::format_no_declaration;
// Wide formatting reports truncation only as a failure; these are the buffer sizes tried before the
// text is taken as unformattable.
constexpr size_t kWideFormatAttempts[] = {CXMLSettingsAPI::kMaxPathLength + 1, 16384, 262144};

bool IsNameStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80; }
bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

// An XML Name (non-ASCII letters are accepted as a whole).
bool IsXmlName(const std::string& name) {
    if (name.empty() || !IsNameStart(static_cast<unsigned char>(name[0]))) return false;
    for (unsigned char c : name) {
        if (!IsNameChar(c)) return false;
    }
    return true;
}

struct Predicate {
    std::string name;
    std::string text;
};

// Splits a last path step such as Item[@id="7"][@k='v'] into the element name and its attribute
// predicates. False for any other predicate form.
bool ParseStep(const std::string& step, std::string* name, std::vector<Predicate>* predicates) {
    name->clear();
    size_t i = 0;
    while (i < step.size()) {
        const size_t open = step.find('[', i);
        name->append(step, i, open == std::string::npos ? std::string::npos : open - i);
        if (open == std::string::npos) break;
        const size_t close = step.find(']', open);
        if (close == std::string::npos) return false;
        const std::string inner = step.substr(open + 1, close - open - 1);
        // Only the form @name="text" (or with single quotes) can be turned into an attribute.
        const size_t equals = inner.find('=');
        if (inner.empty() || inner[0] != '@' || equals == std::string::npos || equals < 2 || equals + 2 >= inner.size())
            return false;
        const char quote = inner[equals + 1];
        if ((quote != '"' && quote != '\'') || inner.back() != quote) return false;
        Predicate predicate{inner.substr(1, equals - 1), inner.substr(equals + 2, inner.size() - equals - 3)};
        if (!IsXmlName(predicate.name) || !xmltext::IsXmlText(predicate.text)) return false;
        predicates->push_back(std::move(predicate));
        i = close + 1;
    }
    return IsXmlName(*name);
}

// Number of ancestors of node, the document node not counted (the root element has 0).
int DepthOf(pugi::xml_node node) {
    int depth = 0;
    for (pugi::xml_node up = node.parent(); up && up.type() != pugi::node_document; up = up.parent()) ++depth;
    return depth;
}

// A text node of nothing but blanks, tabs and line breaks (empty included).
bool IsIndentation(pugi::xml_node node) {
    if (node.type() != pugi::node_pcdata) return false;
    for (const char* c = node.value(); *c; ++c) {
        if (*c != ' ' && *c != '\t' && *c != '\r' && *c != '\n') return false;
    }
    return true;
}

void AppendText(pugi::xml_node parent, const std::string& text) {
    parent.append_child(pugi::node_pcdata).set_value(text.c_str());
}

}  // namespace

CXMLSettingsAPI::CXMLSettingsAPI() = default;

CXMLSettingsAPI::~CXMLSettingsAPI() {
    CFastMutexGuard openGuard(openLock_);
    CFastMutexGuard valueGuard(valueLock_);
    if (document_) {
        openCount_ = 1;
        Close();
    }
}

int32_t CXMLSettingsAPI::Open(const std::string& fileName) {
    CFastMutexGuard openGuard(openLock_);
    CFastMutexGuard valueGuard(valueLock_);
    if (document_) {
        ++openCount_;
        return kXmlOk;
    }
    std::string fullPath;
    if (baseDirectory_.empty()) {
        fullPath = platform::ExecutableDirectory();
    } else {
        fullPath = baseDirectory_;
        if (fullPath.back() != '/' && fullPath.back() != '\\') fullPath += platform::kPathSeparator;
    }
    fullPath += fileName;

    fullPath_ = fullPath;
    switch (platform::ProbeFile(fullPath)) {
        case platform::FileState::Missing:
        case platform::FileState::Empty:
            return kXmlFailed;
        case platform::FileState::Unreadable:
            return kXmlUnreadable;
        case platform::FileState::Readable:
            break;
    }
    immediateSave_ = false;
    if (!platform::ComponentLibraryInitialize()) return kXmlComponentUnavailable;
    std::unique_ptr<pugi::xml_document> document(new (std::nothrow) pugi::xml_document);
    if (!document) {
        platform::ComponentLibraryUninitialize();
        return kXmlDocumentUnavailable;
    }
    const pugi::xml_parse_result loaded = document->load_file(fullPath_.c_str(), kLoadOptions, pugi::encoding_auto);
    if (!loaded || !document->document_element()) {
        platform::ComponentLibraryUninitialize();
        // Only a file that was read and found broken is reported as such; one that went away or
        // failed to read meanwhile must not be taken for garbage and replaced.
        const bool readFailed = loaded.status == pugi::status_file_not_found || loaded.status == pugi::status_io_error ||
                                loaded.status == pugi::status_out_of_memory;
        return readFailed ? kXmlUnreadable : kXmlNotParsable;
    }
    // The file is always written back as UTF-8; a declaration that names another encoding would
    // make the next load read those bytes wrongly.
    pugi::xml_attribute encoding = document->first_child().attribute("encoding");
    if (document->first_child().type() == pugi::node_declaration && encoding) {
        std::string value = encoding.value();
        for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (value != "utf-8" && value != "utf8") encoding.set_value("utf-8");
    }
    document_ = std::move(document);
    openCount_ = 1;
    return kXmlOk;
}

uint32_t CXMLSettingsAPI::Close() {
    CFastMutexGuard openGuard(openLock_);
    CFastMutexGuard valueGuard(valueLock_);
    if (openCount_ != 0 && --openCount_ == 0) ReleaseDocument();
    return openCount_;
}

void CXMLSettingsAPI::ReleaseDocument() {
    if (!document_) return;
    document_.reset();
    if (releaseLibrary_) platform::ComponentLibraryUninitialize();
}

bool CXMLSettingsAPI::IsOpen() {
    CFastMutexGuard valueGuard(valueLock_);
    return document_ != nullptr;
}

uint32_t CXMLSettingsAPI::OpenCount() {
    CFastMutexGuard openGuard(openLock_);
    return openCount_;
}

bool CXMLSettingsAPI::Save() {
    CFastMutexGuard valueGuard(valueLock_);
    if (!document_) return false;
    return WriteDocument(*document_, fullPath_);
}

bool CXMLSettingsAPI::WriteDocument(const pugi::xml_document& document, const std::string& path) {
    std::ostringstream bytes;
    document.save(bytes, "", kSaveOptions, pugi::encoding_utf8);
    const std::string text = bytes.str();
    return platform::ReplaceFileContents(path, text.data(), text.size());
}

int32_t CXMLSettingsAPI::CreateNewFile(const std::string& rootName, const std::string& fileName,
                                       bool initializeLibrary) {
    if (!IsXmlName(rootName)) return -1;
    if (initializeLibrary && !platform::ComponentLibraryInitialize()) return -1;
    bool saved = false;
    {
        pugi::xml_document document;
        pugi::xml_node declaration = document.append_child(pugi::node_declaration);
        declaration.append_attribute("version").set_value("1.0");
        declaration.append_attribute("encoding").set_value("utf-8");
        document.append_child(rootName.c_str());
        saved = WriteDocument(document, platform::ExecutableDirectory() + fileName);
    }
    if (initializeLibrary) platform::ComponentLibraryUninitialize();
    return saved ? 1 : 0;
}

std::wstring CXMLSettingsAPI::FormatWidePath(const wchar_t* format, va_list args) {
    if (!format) return {};
    for (size_t size : kWideFormatAttempts) {
        std::vector<wchar_t> buffer(size);
        va_list attempt;
        va_copy(attempt, args);
        const int length = std::vswprintf(buffer.data(), buffer.size(), format, attempt);
        va_end(attempt);
        if (length >= 0) {
            std::wstring text(buffer.data(), static_cast<size_t>(length));
            if (text.size() > kMaxPathLength) text.resize(kMaxPathLength);
            return text;
        }
    }
    return {};
}

std::string CXMLSettingsAPI::FormatNarrowPath(const char* format, va_list args) {
    if (!format) return {};
    char buffer[kMaxPathLength + 1];
    const int length = std::vsnprintf(buffer, sizeof(buffer), format, args);
    if (length < 0) return {};
    return std::string(buffer, std::min(static_cast<size_t>(length), kMaxPathLength));
}

pugi::xml_node CXMLSettingsAPI::Select(const std::string& path) {
    if (!document_ || path.empty()) return {};
    try {
        pugi::xml_node node = document_->select_node(path.c_str()).node();
        return node.type() == pugi::node_element ? node : pugi::xml_node();
    } catch (const pugi::xpath_exception&) {
        // A path that is not an expression selects nothing.
        return {};
    }
}

pugi::xml_node CXMLSettingsAPI::CreateElement(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return {};  // a second root is never created
    const std::string parentPath = path.substr(0, slash);
    std::string name;
    std::vector<Predicate> predicates;
    if (!ParseStep(path.substr(slash + 1), &name, &predicates)) return {};

    pugi::xml_node parent = Select(parentPath);
    if (!parent) parent = CreateElement(parentPath);  // the path shrinks, so this ends
    if (!parent) return {};

    const int depth = DepthOf(parent);
    AppendText(parent, std::string(static_cast<size_t>(depth), '\t'));
    pugi::xml_node element = parent.append_child(name.c_str());
    AppendText(element, "\n" + std::string(static_cast<size_t>(depth) + 1, '\t'));
    AppendText(parent, "\n" + std::string(static_cast<size_t>(depth), '\t'));
    for (const Predicate& predicate : predicates) {
        element.append_attribute(predicate.name.c_str()).set_value(predicate.text.c_str());
    }
    if (immediateSave_) Save();
    return element;
}

std::wstring CXMLSettingsAPI::GetValue(const wchar_t* pathFormat, ...) {
    va_list args;
    va_start(args, pathFormat);
    const std::wstring path = FormatWidePath(pathFormat, args);
    va_end(args);
    CFastMutexGuard valueGuard(valueLock_);
    pugi::xml_node node = Select(xmltext::WideToUtf8(path));
    if (!node) return {};
    return xmltext::Utf8ToWide(node.attribute("value").value());
}

int32_t CXMLSettingsAPI::SetValue(const std::wstring& value, const wchar_t* pathFormat, ...) {
    va_list args;
    va_start(args, pathFormat);
    const std::wstring widePath = FormatWidePath(pathFormat, args);
    va_end(args);
    if (!xmltext::IsXmlText(value)) return 0;
    const std::string path = xmltext::WideToUtf8(widePath);
    CFastMutexGuard valueGuard(valueLock_);
    if (!document_) return 0;
    pugi::xml_node node = Select(path);
    if (!node) {
        if (!CreateElement(path)) return 0;
        node = Select(path);
        if (!node) return 0;
    }
    const std::string text = xmltext::WideToUtf8(value);
    pugi::xml_attribute attribute = node.attribute("value");
    if (!attribute) attribute = node.append_attribute("value");
    if (!attribute.set_value(text.c_str())) return 0;
    if (immediateSave_) return Save() ? 1 : 0;
    return 1;
}

bool CXMLSettingsAPI::NodeExists(const char* pathFormat, ...) {
    va_list args;
    va_start(args, pathFormat);
    const std::string path = FormatNarrowPath(pathFormat, args);
    va_end(args);
    CFastMutexGuard valueGuard(valueLock_);
    return static_cast<bool>(Select(path));
}

std::vector<std::string> CXMLSettingsAPI::ChildElementNames(const char* pathFormat, ...) {
    va_list args;
    va_start(args, pathFormat);
    const std::string path = FormatNarrowPath(pathFormat, args);
    va_end(args);
    std::vector<std::string> names;
    CFastMutexGuard valueGuard(valueLock_);
    for (pugi::xml_node child : Select(path).children()) {
        if (child.type() == pugi::node_element) names.emplace_back(child.name());
    }
    return names;
}

bool CXMLSettingsAPI::RemoveNode(const char* pathFormat, ...) {
    va_list args;
    va_start(args, pathFormat);
    const std::string path = FormatNarrowPath(pathFormat, args);
    va_end(args);
    CFastMutexGuard valueGuard(valueLock_);
    pugi::xml_node node = Select(path);
    // Removing the document element would leave a file that no longer loads.
    if (!node || node == document_->document_element()) return false;
    pugi::xml_node parent = node.parent();
    // Creation put indentation text in front of the element and a line break behind it; the
    // element and all whitespace text before it go, and the line break behind it takes the place of
    // the one that stood before. Left behind, every rewrite of the element would grow the file.
    for (pugi::xml_node before = node.previous_sibling(); before && IsIndentation(before);) {
        const pugi::xml_node earlier = before.previous_sibling();
        parent.remove_child(before);
        before = earlier;
    }
    if (!parent.remove_child(node)) return false;
    if (immediateSave_) return Save();
    return true;
}

}  // namespace velmora
