// Throughput of streaming a large response body through Web::CHttpClient's QueryAvailable /
// ReadSome, as the live-stream channels read it, from a loopback server in this program, beside the
// curl command-line client fetching the same body from the same server (its own download speed,
// which leaves out its start-up).
//
//   bench_httpreadbench                          run the benchmark
//   bench_httpreadbench --serve PORT [SECONDS]   only serve the same body on 127.0.0.1:PORT, for
//                                                comparing with another client (default 60 s)
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchTable.h"
#include "Driver/IDriver.h"
#include "Web/HttpClient.h"
#include "platform/Process.h"
#include "platform/Socket.h"
#include "platform/System.h"

namespace {

constexpr uint64_t kBodyBytes = 64ull << 20;
constexpr size_t kSendBlock = 1 << 20;
constexpr uint32_t kPollMs = 50;
constexpr uint32_t kSendTimeoutMs = 10000;

// Serves every GET with kBodyBytes of body on a kept-alive connection.
class BodyServer {
public:
    explicit BodyServer(uint16_t port = 0) : block_(kSendBlock) {
        for (size_t i = 0; i < block_.size(); ++i) block_[i] = static_cast<uint8_t>(i * 31 + 7);
        if (listener_.Listen("127.0.0.1", port)) port_ = listener_.LocalPort();
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~BodyServer() {
        stop_ = true;
        acceptor_.join();
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& t : workers_) t.join();
    }
    uint16_t Port() const { return port_; }

private:
    void Accept() {
        while (!stop_) {
            velmora::platform::TcpSocket client;
            if (!listener_.Accept(&client, kPollMs)) continue;
            std::lock_guard<std::mutex> lock(mutex_);
            workers_.emplace_back([this](velmora::platform::TcpSocket s) { Serve(std::move(s)); }, std::move(client));
        }
    }
    void Serve(velmora::platform::TcpSocket s) {
        std::string pending;
        char buffer[4096];
        while (!stop_) {
            size_t end = pending.find("\r\n\r\n");
            if (end == std::string::npos) {
                long n = s.Receive(buffer, sizeof(buffer), kPollMs);
                if (n == -2) continue;
                if (n <= 0 || pending.size() > 65536) return;
                pending.append(buffer, static_cast<size_t>(n));
                continue;
            }
            pending.erase(0, end + 4);
            std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                               std::to_string(kBodyBytes) + "\r\n\r\n";
            if (!s.SendAll(head.data(), head.size(), kSendTimeoutMs)) return;
            for (uint64_t sent = 0; sent < kBodyBytes; sent += kSendBlock)
                if (!s.SendAll(block_.data(), kSendBlock, kSendTimeoutMs)) return;
        }
    }

    std::vector<uint8_t> block_;
    velmora::platform::TcpSocket listener_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
};

void StreamBody(benchmark::State& state) {
    BodyServer server;
    velmora::DEVICE_INFO device;
    device.Address = "127.0.0.1";
    device.Port = server.Port();
    Web::CHttpClient client(device, velmora::kHttpAgent);
    std::vector<uint8_t> buffer(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        if (!client.SendRequest("GET", "/body")) {
            state.SkipWithError("request failed");
            break;
        }
        uint64_t total = 0;
        for (;;) {
            uint32_t available = client.QueryAvailable();
            if (available == 0) break;
            if (buffer.size() < available) buffer.resize(available);  // as the channels do
            uint32_t got = client.ReadSome(buffer.data(), static_cast<uint32_t>(buffer.size()));
            if (got == 0) break;
            total += got;
        }
        if (total != kBodyBytes) {
            state.SkipWithError("short body");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodyBytes));
}

void ReadAllBody(benchmark::State& state) {
    BodyServer server;
    velmora::DEVICE_INFO device;
    device.Address = "127.0.0.1";
    device.Port = server.Port();
    Web::CHttpClient client(device, velmora::kHttpAgent);
    std::vector<uint8_t> body;
    // One read before timing: the vector keeps its 64 MiB, as a client reading replies in a loop
    // keeps its buffer. Otherwise the first iteration's page faults and regrowth, a large share of
    // the few iterations a 64 MiB body allows, decide the figure.
    if (!client.SendRequest("GET", "/body") || client.ReadAll(body) != kBodyBytes) {
        state.SkipWithError("short body");
        return;
    }
    for (auto _ : state) {
        if (!client.SendRequest("GET", "/body") || client.ReadAll(body) != kBodyBytes) {
            state.SkipWithError("short body");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodyBytes));
}

// curl fetching the body into /dev/null; the iteration time is the transfer time curl measured.
void CurlBody(benchmark::State& state) {
    BodyServer server;
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/body";
    const std::string report = "/tmp/quillon-bench-curl-" + std::to_string(server.Port()) + ".txt";
    for (auto _ : state) {
        std::remove(report.c_str());
        velmora::platform::ChildProcess curl;
        if (!curl.Start({"/usr/bin/curl", "-s", "-o", "/dev/null", "-w", "%{size_download} %{time_total}\n", url},
                        report) ||
            !curl.Wait(60000) || curl.ExitCode() != 0) {
            state.SkipWithError("curl failed (is /usr/bin/curl installed?)");
            break;
        }
        std::ifstream in(report);
        double bytes = 0, seconds = 0;
        if (!(in >> bytes >> seconds) || bytes != static_cast<double>(kBodyBytes) || seconds <= 0) {
            state.SkipWithError("curl reported a short body");
            break;
        }
        state.SetIterationTime(seconds);
    }
    std::remove(report.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodyBytes));
}

void PrintTable(const benchtable::Reporter& r) {
    const auto* curl = r.Find("CurlBody");
    std::printf("\nHTTP body read on loopback (%llu MiB body), MB/s of wall time\n",
                static_cast<unsigned long long>(kBodyBytes >> 20));
    std::printf("%-22s %10s %10s %8s %-12s\n", "client", "driver", "curl", "ratio", "target");
    for (const char* name : {"StreamBody/8096", "StreamBody/16384", "StreamBody/65536", "ReadAllBody"}) {
        const auto* ours = r.Find(name);
        if (ours == nullptr || curl == nullptr) continue;
        const double a = ours->counters.at("bytes_per_second") / 1e6, b = curl->counters.at("bytes_per_second") / 1e6;
        char target[24];
        std::snprintf(target, sizeof target, ">=0.9 %s", benchtable::Verdict(a / b, 0.9, false));
        std::printf("%-22s %10.0f %10.0f %8.3f %-12s\n", name, a, b, a / b, target);
    }
}

}  // namespace

// Arguments: the read buffer the channel starts with (it grows to what QueryAvailable offers).
BENCHMARK(StreamBody)->Arg(8096)->Arg(16384)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadAllBody)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CurlBody)->Unit(benchmark::kMillisecond)->UseManualTime();

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--serve") == 0) {
        uint32_t seconds = argc >= 4 ? static_cast<uint32_t>(std::atoi(argv[3])) : 60;
        BodyServer server(static_cast<uint16_t>(std::atoi(argv[2])));
        if (server.Port() == 0) return 1;
        std::printf("serving %llu bytes on http://127.0.0.1:%u/ for %u s\n",
                    static_cast<unsigned long long>(kBodyBytes), server.Port(), seconds);
        std::fflush(stdout);
        uint64_t end = velmora::platform::MonotonicMilliseconds() + uint64_t(seconds) * 1000;
        while (velmora::platform::MonotonicMilliseconds() < end) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchtable::Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTable(reporter);
    benchmark::Shutdown();
    return 0;
}
