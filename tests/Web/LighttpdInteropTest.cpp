// Interoperability with a real web server (e2e-friendly, runs in the normal suite): Debian's
// lighttpd on a free 127.0.0.1 port serves a several-MB static file, a Basic-protected path and
// Digest-protected paths (MD5 and SHA-256); the client must read the file byte for byte and get
// through both authentications, and a wrong password must end with status 401.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Driver/IDriver.h"
#include "Web/CameraRequest.h"
#include "Web/HttpClient.h"
#include "platform/Process.h"
#include "platform/Socket.h"
#include "platform/Sync.h"
#include "platform/System.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kLighttpd = "/usr/sbin/lighttpd";
constexpr uint32_t kStartupMs = 10000;
constexpr uint32_t kStartupStepMs = 20;
constexpr uint32_t kStopGraceMs = 5000;
constexpr int kStartAttempts = 3;
constexpr size_t kFileBytes = 5 * 1024 * 1024 + 123;
constexpr const char* kUser = "admin";
constexpr const char* kPassword = "meinsm";

std::vector<uint8_t> FileContent() {
    std::vector<uint8_t> data(kFileBytes);
    std::mt19937 random(12345);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    return data;
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

class LighttpdServer {
public:
    bool Start() {
        std::random_device rd;
        dir_ = fs::temp_directory_path() / ("quillon-lighttpd-" + std::to_string(rd()));
        fs::create_directories(dir_ / "docroot" / "basic");
        fs::create_directories(dir_ / "docroot" / "digest");
        fs::create_directories(dir_ / "docroot" / "digest256");
        file_ = FileContent();
        std::ofstream(dir_ / "docroot" / "big.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(file_.data()), static_cast<std::streamsize>(file_.size()));
        WriteFile(dir_ / "docroot" / "basic" / "secret.txt", "basic secret\n");
        WriteFile(dir_ / "docroot" / "digest" / "secret.txt", "md5 secret\n");
        WriteFile(dir_ / "docroot" / "digest256" / "secret.txt", "sha-256 secret\n");
        WriteFile(dir_ / "users", std::string(kUser) + ":" + kPassword + "\n");
        for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
            if (TryStart()) return true;
        }
        return false;
    }

    ~LighttpdServer() {
        process_.Stop(kStopGraceMs);
        std::error_code ignored;
        if (!dir_.empty()) fs::remove_all(dir_, ignored);
    }

    uint16_t Port() const { return port_; }
    const std::vector<uint8_t>& File() const { return file_; }
    std::string Log() const {
        std::ifstream in(dir_ / "server.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    bool TryStart() {
        // A free port: bound once to learn it, then released for the server.
        velmora::platform::TcpSocket probe;
        if (!probe.Listen("127.0.0.1", 0)) return false;
        port_ = probe.LocalPort();
        probe.Close();
        const std::string d = dir_.string();
        WriteFile(dir_ / "lighttpd.conf",
                  "server.document-root = \"" + d + "/docroot\"\n"
                  "server.bind = \"127.0.0.1\"\n"
                  "server.port = " + std::to_string(port_) + "\n"
                  "server.errorlog = \"" + d + "/server.log\"\n"
                  "server.modules = (\"mod_auth\", \"mod_authn_file\")\n"
                  "mimetype.assign = (\".bin\" => \"application/octet-stream\", \".txt\" => \"text/plain\")\n"
                  "auth.backend = \"plain\"\n"
                  "auth.backend.plain.userfile = \"" + d + "/users\"\n"
                  "auth.require = (\n"
                  "  \"/basic/\" => (\"method\" => \"basic\", \"realm\" => \"quillon\", \"require\" => \"valid-user\"),\n"
                  "  \"/digest/\" => (\"method\" => \"digest\", \"realm\" => \"quillon\", \"require\" => \"valid-user\", "
                  "\"algorithm\" => \"MD5\"),\n"
                  "  \"/digest256/\" => (\"method\" => \"digest\", \"realm\" => \"quillon\", \"require\" => \"valid-user\", "
                  "\"algorithm\" => \"SHA-256\")\n"
                  ")\n");
        if (!process_.Start({kLighttpd, "-D", "-f", d + "/lighttpd.conf"}, d + "/server.log")) return false;
        // Ready once it accepts connections; bounded, and given up when the process has ended.
        uint64_t deadline = velmora::platform::MonotonicMilliseconds() + kStartupMs;
        while (velmora::platform::MonotonicMilliseconds() < deadline) {
            velmora::platform::TcpSocket s;
            if (s.Connect("127.0.0.1", port_, kStartupStepMs * 10)) return true;
            if (!process_.Running()) return false;
            velmora::platform::SleepMilliseconds(kStartupStepMs);
        }
        process_.Stop(kStopGraceMs);
        return false;
    }

    fs::path dir_;
    uint16_t port_ = 0;
    std::vector<uint8_t> file_;
    velmora::platform::ChildProcess process_;
};

velmora::DEVICE_INFO Device(uint16_t port, const std::string& user, const std::string& password) {
    velmora::DEVICE_INFO d;
    d.Address = "127.0.0.1";
    d.Port = port;
    d.UserName = user;
    d.Password = password;
    return d;
}

std::string Text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

}  // namespace

class CLighttpdInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!velmora::platform::FileIsReadableAndNonEmpty(kLighttpd)) GTEST_SKIP() << kLighttpd << " is not installed";
        server_ = std::make_unique<LighttpdServer>();
        ASSERT_TRUE(server_->Start()) << "lighttpd did not start:\n" << server_->Log();
    }
    std::unique_ptr<LighttpdServer> server_;
};

TEST_F(CLighttpdInteropTest, StaticFileArrivesByteForByte) {
    Web::CHttpClient client(Device(server_->Port(), "", ""), velmora::kHttpAgent);
    ASSERT_TRUE(client.SendRequest("GET", "/big.bin"));
    EXPECT_EQ(client.GetStatusCode(), 200u);
    EXPECT_EQ(client.GetContentLength(), kFileBytes);
    std::vector<uint8_t> body;
    EXPECT_EQ(client.ReadAll(body), kFileBytes);
    EXPECT_TRUE(body == server_->File()) << "body differs from the file";
    // Twice on the kept-alive connection, the second time through the streaming reads.
    ASSERT_TRUE(client.SendRequest("GET", "/big.bin"));
    std::vector<uint8_t> streamed, buffer(4096);
    for (int guard = 0; guard < 1000000; ++guard) {
        uint32_t available = client.QueryAvailable();
        if (available == 0) break;
        uint32_t got = client.ReadSome(buffer.data(), static_cast<uint32_t>(buffer.size()));
        ASSERT_GT(got, 0u);
        streamed.insert(streamed.end(), buffer.begin(), buffer.begin() + got);
    }
    EXPECT_TRUE(streamed == server_->File()) << "streamed body differs from the file";
    ASSERT_TRUE(client.SendRequest("GET", "/missing.txt"));
    EXPECT_EQ(client.GetStatusCode(), 404u);
}

TEST_F(CLighttpdInteropTest, BasicAndDigestLogInsAndWrongPasswordsEndWith401) {
    struct Row {
        const char* path;
        const char* content;
    } rows[] = {
        {"/basic/secret.txt", "basic secret\n"},
        {"/digest/secret.txt", "md5 secret\n"},
        {"/digest256/secret.txt", "sha-256 secret\n"},
    };
    for (const auto& row : rows) {
        Web::CHttpClient client(Device(server_->Port(), kUser, kPassword), velmora::kHttpAgent);
        std::vector<uint8_t> body;
        velmora::CResultDef result = velmora::Utils::SendRequestWrapper(row.path, body, client);
        EXPECT_EQ(result.code, 0) << row.path << ": " << result.message;
        EXPECT_EQ(Text(body), std::string(row.content) + '\0') << row.path;
        // A second request on the same client goes through with the learned scheme.
        ASSERT_TRUE(client.SendRequest("GET", row.path)) << row.path;
        EXPECT_EQ(client.GetStatusCode(), 200u) << row.path;

        Web::CHttpClient wrong(Device(server_->Port(), kUser, "not-the-password"), velmora::kHttpAgent);
        EXPECT_TRUE(wrong.SendRequest("GET", row.path)) << row.path;
        EXPECT_EQ(wrong.GetStatusCode(), 401u) << row.path;
        Web::CHttpClient none(Device(server_->Port(), "", ""), velmora::kHttpAgent);
        EXPECT_TRUE(none.SendRequest("GET", row.path)) << row.path;
        EXPECT_EQ(none.GetStatusCode(), 401u) << row.path;
    }
}
