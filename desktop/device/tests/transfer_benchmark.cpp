// Segment copy throughput over the link with every pause at zero, beside what a plain
// loopback socket carries on the same machine. The ratio says how much of the link's
// capacity the copy uses; the pauses themselves are the copy's design, not its speed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "desktop/device/program_folder.h"
#include "desktop/device/transfer.h"
#include "handheld_link_fixture.h"
#include "platform/clock/clock.h"
#include "shared/segment_table.h"
#include "emulator/object_store.h"

namespace {

namespace fs = std::filesystem;

double g_copyBytesPerSecond = 0;
double g_socketBytesPerSecond = 0;
double g_requestResponseBytesPerSecond = 0;

class NullWindow : public ui::MessageTarget {
public:
    void PostMessage(ui::UINT, ui::WPARAM, ui::LPARAM) override {}
};

std::string g_programPath;
size_t BenchmarkProgramPath(char* buffer, size_t capacity) {
    size_t n = std::min(g_programPath.size(), capacity - 1);
    std::memcpy(buffer, g_programPath.data(), n);
    buffer[n] = '\0';
    return n;
}

void BM_CopySegments(benchmark::State& state) {
    tova::SetTimeScale(0);
    fs::path root = fs::temp_directory_path() / ("tova-transfer-bench-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "program");
    transfer_testing::WriteHostFile(root / "program" / "R47_NK_H00000002.img",
                                    romimage::BuildPackage(transfer_testing::SpecFor(true, "00000002")));
    g_programPath = (root / "program" / "setup").string();
    SetProgramPathReader(BenchmarkProgramPath);
    transfer_testing::HandheldOnLink handheld;
    std::string problem = handheld.Start(root / "handheld", true);
    if (!problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    NullWindow window;
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (const SegmentEntry& s : kSegmentTable) handheld.Machine().Store().RemoveFile(s.devicePath);
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        if (CopySegments(window) != 1) {
            state.SkipWithError("CopySegments failed");
            break;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPackageSegmentsBytes);
    if (seconds > 0) g_copyBytesPerSecond = double(state.iterations()) * kPackageSegmentsBytes / seconds;
    handheld.Stop();
    SetProgramPathReader(nullptr);
    fs::remove_all(root);
}
BENCHMARK(BM_CopySegments)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// A connected loopback pair with Nagle off on both ends, as the link has it.
struct LoopbackPair {
    int a = -1, b = -1;
    bool Open() {
        int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        bool ok = ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                  ::listen(listener, 1) == 0 &&
                  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
        if (ok) {
            a = ::socket(AF_INET, SOCK_STREAM, 0);
            ok = ::connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        }
        if (ok) b = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        int one = 1;
        if (a >= 0) setsockopt(a, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (b >= 0) setsockopt(b, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return ok && b >= 0;
    }
    ~LoopbackPair() {
        if (a >= 0) ::close(a);
        if (b >= 0) ::close(b);
    }
};

bool ReceiveAll(int fd, uint8_t* to, size_t length) {
    for (size_t got = 0; got < length;) {
        ssize_t n = ::recv(fd, to + got, length - got, 0);
        if (n <= 0) return false;
        got += size_t(n);
    }
    return true;
}

bool SendAll(int fd, const uint8_t* from, size_t length) {
    for (size_t sent = 0; sent < length;) {
        ssize_t n = ::send(fd, from + sent, length - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += size_t(n);
    }
    return true;
}

// The fair limit for a copy with one chunk in flight: the same bytes as 16 KiB requests
// (with a small header), each answered by a small reply before the next one goes. With
// `writeFile` the server also appends each chunk to a file, as the handheld's object store
// does: the part of the copy's time that belongs to the file writes.
void RequestResponseLoop(benchmark::State& state, bool writeFile) {
    LoopbackPair pair;
    if (!pair.Open()) {
        state.SkipWithError("cannot connect on loopback");
        return;
    }
    fs::path file = fs::temp_directory_path() / ("tova-transfer-bench-file-" + std::to_string(::getpid()));
    int out = writeFile ? ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644) : -1;
    constexpr size_t kHeader = 16, kReply = 16;
    constexpr uint64_t kRequests = kPackageSegmentsBytes / kCopyChunkBytes;
    std::thread server([fd = pair.b, out] {
        std::vector<uint8_t> in(kHeader + kCopyChunkBytes), reply(kReply, 1);
        uint64_t at = 0;
        while (ReceiveAll(fd, in.data(), in.size())) {
            if (out >= 0) {
                // Every pass into new blocks, as every copy goes into new segment files.
                if ((at == 0 && ::ftruncate(out, 0) != 0) ||
                    ::pwrite(out, in.data() + kHeader, kCopyChunkBytes, off_t(at)) < 0)
                    break;
                at = (at + kCopyChunkBytes) % kPackageSegmentsBytes;
            }
            if (!SendAll(fd, reply.data(), reply.size())) break;
        }
    });
    std::vector<uint8_t> request(kHeader + kCopyChunkBytes, 0x5A), reply(kReply);
    double seconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (uint64_t i = 0; i < kRequests; ++i) {
            if (!SendAll(pair.a, request.data(), request.size()) || !ReceiveAll(pair.a, reply.data(), reply.size())) {
                state.SkipWithError("loopback exchange failed");
                break;
            }
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    ::shutdown(pair.a, SHUT_RDWR);
    server.join();
    if (out >= 0) ::close(out);
    fs::remove(file);
    state.SetBytesProcessed(int64_t(state.iterations()) * kPackageSegmentsBytes);
    if (!writeFile && seconds > 0)
        g_requestResponseBytesPerSecond = double(state.iterations()) * kPackageSegmentsBytes / seconds;
}

void BM_LoopbackRequestResponse(benchmark::State& state) { RequestResponseLoop(state, false); }
BENCHMARK(BM_LoopbackRequestResponse)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

void BM_LoopbackRequestResponseWithFileWrite(benchmark::State& state) { RequestResponseLoop(state, true); }
BENCHMARK(BM_LoopbackRequestResponseWithFileWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

// The same number of bytes in the same chunk size, streamed one way over a loopback TCP
// connection, ending when the receiver has them all.
void BM_LoopbackSocket(benchmark::State& state) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        state.SkipWithError("cannot listen on loopback");
        ::close(listener);
        return;
    }
    int sender = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(sender, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        state.SkipWithError("cannot connect on loopback");
        ::close(listener);
        ::close(sender);
        return;
    }
    int receiver = ::accept(listener, nullptr, nullptr);
    ::close(listener);

    std::vector<uint8_t> chunk(kCopyChunkBytes, 0x5A);
    double seconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        std::thread drain([receiver] {
            std::vector<uint8_t> in(1 << 16);
            uint64_t got = 0;
            while (got < kPackageSegmentsBytes) {
                ssize_t n = ::recv(receiver, in.data(), in.size(), 0);
                if (n <= 0) return;
                got += uint64_t(n);
            }
        });
        for (uint64_t sent = 0; sent < kPackageSegmentsBytes;) {
            ssize_t n = ::send(sender, chunk.data(), chunk.size(), 0);
            if (n <= 0) break;
            sent += uint64_t(n);
        }
        drain.join();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPackageSegmentsBytes);
    if (seconds > 0) g_socketBytesPerSecond = double(state.iterations()) * kPackageSegmentsBytes / seconds;
    ::close(sender);
    ::close(receiver);
}
BENCHMARK(BM_LoopbackSocket)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_copyBytesPerSecond > 0 && g_socketBytesPerSecond > 0)
        std::printf("CopySegments %.1f MB/s, raw loopback socket %.1f MB/s, ratio %.3f\n",
                    g_copyBytesPerSecond / 1e6, g_socketBytesPerSecond / 1e6,
                    g_copyBytesPerSecond / g_socketBytesPerSecond);
    if (g_copyBytesPerSecond > 0 && g_requestResponseBytesPerSecond > 0)
        std::printf("CopySegments %.1f MB/s, 16 KiB request/response loop %.1f MB/s, ratio %.3f\n",
                    g_copyBytesPerSecond / 1e6, g_requestResponseBytesPerSecond / 1e6,
                    g_copyBytesPerSecond / g_requestResponseBytesPerSecond);
    return 0;
}
