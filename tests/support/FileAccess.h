// Runs test code as a user without the right to read other people's files: for tests of files
// that exist but cannot be read, which the root user (who runs the CI) could otherwise read.
#pragma once
#include <functional>

namespace quillon::test {

// Runs body on a new thread whose permission checks on files are those of a plain user: the
// override capabilities are dropped for that thread alone (Linux keeps them per thread). False,
// without running body, when they could not be dropped.
bool RunWithoutFileAccessOverride(const std::function<void()>& body);

}  // namespace quillon::test
