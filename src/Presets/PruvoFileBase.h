// CPruvoFileBase: checks that a settings file exists and can be read before the XML layer loads it.
#pragma once
#include <cstdint>
#include <fstream>
#include <string>

namespace velmora {

// Opens an existing file for reading; the destructor closes it. One thread at a time.
class CPruvoFileBase {
public:
    explicit CPruvoFileBase(std::string fileName) : fileName_(std::move(fileName)) {}
    virtual ~CPruvoFileBase() = default;
    CPruvoFileBase(const CPruvoFileBase&) = delete;
    CPruvoFileBase& operator=(const CPruvoFileBase&) = delete;

    // True when the file exists and could be opened for reading.
    bool Open();
    bool IsOpened() const { return opened_; }
    // Size in bytes of the opened file; 0 when not opened.
    uint64_t Size();
    void Close();
    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
    std::ifstream file_;
    bool opened_ = false;
};

}  // namespace velmora
