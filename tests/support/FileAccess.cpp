// Unreadable file on Linux: write-only permissions, and a thread without the capabilities that
// override them (capget/capset act on the calling thread alone).
#include "FileAccess.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace quillon::test {

namespace {

bool DropOverrideForThisThread() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    constexpr unsigned kOverrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    data[0].effective &= ~kOverrides;
    return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

bool RunWhileFileUnreadable(const std::string& path, const std::function<void()>& body) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::permissions(path, fs::perms::owner_write, error);
    if (error) return false;
    bool dropped = false;
    std::thread worker([&] {
        dropped = DropOverrideForThisThread();
        if (dropped) body();
    });
    worker.join();
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, error);
    return dropped;
}

}  // namespace quillon::test
