// Files the driver writes: what a path holds, whole-file replacement that never leaves a truncated
// file, and moving a file aside without replacing another. Paths are UTF-8. Any thread may call.
#pragma once
#include <cstddef>
#include <string>

namespace velmora::platform {

enum class FileState {
    Missing,     // nothing at the path (or a directory on the way is missing)
    Empty,       // a regular file of length 0
    Unreadable,  // something is there but cannot be read: no permission, locked by another
                 // process (Windows), not a regular file
    Readable,    // a regular file with content that could be opened for reading
};

FileState ProbeFile(const std::string& path);

// Replaces the file's content in one step: the bytes go to a new temporary file in the same
// directory, are flushed to the disk, and the temporary file is renamed over the file (POSIX:
// rename, then the directory is flushed; Windows: MoveFileEx with replace and write-through). A
// crash or a full disk leaves the old file or the new one, never a mix or a truncated one. On
// failure the temporary file is removed and false returned. POSIX keeps the old file's permissions.
bool ReplaceFileContents(const std::string& path, const void* data, size_t size);

// Renames a file within its directory; false, touching nothing, when the new name is taken or the
// rename fails.
bool MoveFileNoReplace(const std::string& from, const std::string& to);

}  // namespace velmora::platform
