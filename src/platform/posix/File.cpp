// Files on POSIX: open/fstat probe, write-fsync-rename replacement, link-based move aside.
#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace velmora::platform {

namespace {

std::atomic<unsigned> gTempCounter{0};

// A temporary name beside the file that no other writer (thread or process) picks.
std::string TemporaryName(const std::string& path) {
    return path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++gTempCounter);
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Makes the rename itself durable; a failure here leaves a complete file either way.
void FlushDirectory(const std::string& path) {
    const int fd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

FileState ProbeFile(const std::string& path) {
    // Non-blocking, so that a FIFO at the path is reported instead of waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? FileState::Missing : FileState::Unreadable;
    struct stat info {};
    FileState state = FileState::Unreadable;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) state = info.st_size == 0 ? FileState::Empty : FileState::Readable;
    ::close(fd);
    return state;
}

bool ReplaceFileContents(const std::string& path, const void* data, size_t size) {
    const std::string temporary = TemporaryName(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat old {};
    bool ok = true;
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    ok = ok && WriteAll(fd, static_cast<const unsigned char*>(data), size) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    FlushDirectory(path);
    return true;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
    // A hard link fails when the name is taken, so nothing can be replaced in between.
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) == 0) return true;
        ::unlink(to.c_str());
        return false;
    }
    if (errno == EEXIST) return false;
    // File systems without hard links: rename after making sure the name is free.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0 || errno != ENOENT) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace velmora::platform
