// CXMLSettingsAPI: a path-addressed settings store over one XML document. Values live in the
// "value" attribute of the element a path selects (for example Mobotix/PtzChannel01/Preposition000/Name).
#pragma once
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Thread/FastMutex.h"

namespace pugi {
class xml_document;
class xml_node;
}  // namespace pugi

namespace velmora {

// Status codes of Open: 0 success, negative failure.
enum XmlSettingsStatus : int32_t {
    kXmlOk = 0,
    kXmlFailed = -1,                 // file missing or empty: a fresh file may take its place
    kXmlComponentUnavailable = -2,   // component library initialisation failed
    kXmlDocumentUnavailable = -3,    // the document object could not be created
    kXmlUnreadable = -4,             // the file is there but cannot be read (permission, lock)
    kXmlNotParsable = -5,            // the file was read but holds no XML document
};

// Any thread may call any operation. Open/Close take the first lock (and the second, so that no
// value operation sees a half-opened document); value reads, writes, removals and saves take the
// second. Both are recursive. Files are written byte-identically on every platform: UTF-8 without
// byte-order mark, the document's own text nodes as they are, nothing added.
class CXMLSettingsAPI {
public:
    static constexpr size_t kMaxPathLength = 1023;

    CXMLSettingsAPI();
    virtual ~CXMLSettingsAPI();
    CXMLSettingsAPI(const CXMLSettingsAPI&) = delete;
    CXMLSettingsAPI& operator=(const CXMLSettingsAPI&) = delete;

    // Loads the file from the base directory (the executable's directory when none is set).
    // Already open: only counts the open. Whitespace text is kept as loaded. FullPath() names the
    // file tried, also when it failed to load.
    int32_t Open(const std::string& fileName);
    // Returns the remaining open count; at 0 the document is released.
    uint32_t Close();
    // Writes the document to the path it was loaded from, replacing the file in one step (never a
    // truncated file); false when closed or on a write error, the old file then unchanged.
    bool Save();
    // Writes a new file holding the declaration and an empty root element into the executable's
    // directory. 1 saved, 0 save failed, -1 component library or document not available (also
    // for a root name that is not an XML name). Does not change this object's state.
    int32_t CreateNewFile(const std::string& rootName, const std::string& fileName, bool initializeLibrary);

    // Value of the element the formatted path selects; empty when nothing is selected, the
    // attribute is missing or the document is closed. Use %ls for wide string arguments.
    std::wstring GetValue(const wchar_t* pathFormat, ...);
    // Sets the value, creating missing elements with indentation text. 1 success, 0 failure (closed
    // document, a path that cannot be built, or a value with characters XML 1.0 cannot hold).
    int32_t SetValue(const std::wstring& value, const wchar_t* pathFormat, ...);
    bool NodeExists(const char* pathFormat, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    // Removes the element with the indentation text in front of it, so that an element written
    // again in its place adds no text.
    bool RemoveNode(const char* pathFormat, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    // Names of the child elements of the element the formatted path selects, in document order;
    // empty when nothing is selected or the document is closed.
    std::vector<std::string> ChildElementNames(const char* pathFormat, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    bool IsOpen();
    uint32_t OpenCount();
    const std::string& FullPath() const { return fullPath_; }
    void SetBaseDirectory(const std::string& directory) { baseDirectory_ = directory; }
    // When set, every change is written at once. Nothing in the driver sets it.
    void SetImmediateSave(bool on) { immediateSave_ = on; }
    void SetReleaseLibraryOnClose(bool on) { releaseLibrary_ = on; }

private:
    static std::wstring FormatWidePath(const wchar_t* format, va_list args);
    static std::string FormatNarrowPath(const char* format, va_list args);
    static bool WriteDocument(const pugi::xml_document& document, const std::string& path);
    pugi::xml_node Select(const std::string& path);
    pugi::xml_node CreateElement(const std::string& path);
    void ReleaseDocument();

    uint32_t openCount_ = 0;
    bool releaseLibrary_ = true;
    bool immediateSave_ = false;
    CFastMutex openLock_;
    std::unique_ptr<pugi::xml_document> document_;
    std::string fullPath_;
    CFastMutex valueLock_;
    std::string baseDirectory_;
};

}  // namespace velmora
