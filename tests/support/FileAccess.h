// A file that exists but cannot be read, for tests of code that must leave such a file alone. The
// root user (who runs the CI) could read any file, so on Linux the file is made write-only and the
// test code runs on a thread without the capabilities that override file permissions (Linux keeps
// them per thread); on Windows another handle holds the file open without sharing (a lock).
#pragma once
#include <functional>
#include <string>

namespace quillon::test {

// Runs body while the file at path is unreadable to this process; afterwards the file is readable
// again. False, without running body, when that could not be arranged.
bool RunWhileFileUnreadable(const std::string& path, const std::function<void()>& body);

}  // namespace quillon::test
