// The administration window's refresh of a pool of 3 servers × 50 sessions × 3 drives, against
// the bare "list sessions" (type 13) round trips it needs, in one run; and the longest pause of
// the window thread meanwhile. The servers are small TCP answerers on 127.0.0.1 to 127.0.0.3.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "admin/admin_channels.h"
#include "admin/ui/admin_window.h"
#include "platform/blocking_socket.h"
#include "service/ip_data.h"
#include "support/free_port.h"

namespace {

using namespace ombrix::admin;
using Clock = std::chrono::steady_clock;

constexpr int kServers = 3;
constexpr int kSessions = 50;
constexpr int kRounds = 50;

// Answers every record with the sessions of one server.
class FakeServer {
  public:
    FakeServer(std::string address, int index) : address_(std::move(address)) {
        port_ = ombrix::test::freePort(address_.c_str());
        // Two answers that differ in every drive's image, for refreshes where all changed.
        for (int variant = 0; variant < 2; ++variant) {
            std::vector<std::string> texts;
            for (int s = 1; s <= kSessions; ++s) {
                for (char letter : {'E', 'F', 'G'}) {
                    texts.push_back(std::to_string(s) + "|user" + std::to_string(s) + "|" + letter +
                                    "|/srv/images/s" + std::to_string(index) + "-" +
                                    std::to_string(s) + letter + (variant ? "b" : "a") + ".om4");
                }
            }
            replies_[variant].SetTexts(texts);
            replies_[variant].SetType(13);
        }
        listener_.Create();
        listener_.Bind(CBlockingSocket::GetHostByName(address_, port_));
        listener_.Listen();
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeServer() {
        stop_ = true;
        try {
            CBlockingSocket wake;
            wake.Create();
            wake.Connect(CBlockingSocket::GetHostByName(address_, port_), 500);
        } catch (...) {
        }
        thread_.join();
    }
    int port() const { return port_; }
    // Every answer differs from the one before.
    void keepChanging(bool changing) { changing_ = changing; }
    const std::string& address() const { return address_; }

  private:
    void serve() {
        while (!stop_) {
            try {
                CBlockingSocket client;
                sockaddr_in peer{};
                if (!listener_.Accept(client, peer)) continue;
                if (stop_) return;
                CIPData request;
                if (ReadIPData(client, request, 2000) != IPHeaderCheck::kGood) continue;
                if (changing_) variant_ ^= 1;
                WriteIPData(client, replies_[variant_], 2000);
            } catch (...) {
            }
        }
    }

    std::string address_;
    int port_ = 0;
    CIPData replies_[2];
    int variant_ = 0;
    std::atomic<bool> changing_{false};
    CBlockingSocket listener_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

bool roundTrip(const FakeServer& server, CIPData& reply) {
    try {
        CBlockingSocket socket;
        socket.Create();
        socket.Connect(CBlockingSocket::GetHostByName(server.address(), server.port()), 2000);
        WriteIPData(socket, CIPData(13), 2000);
        return ReadIPData(socket, reply, 2000) == IPHeaderCheck::kGood;
    } catch (...) {
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::vector<std::unique_ptr<FakeServer>> fakes;
    std::vector<ServerEntry> entries;
    for (int i = 0; i < kServers; ++i) {
        fakes.push_back(std::make_unique<FakeServer>("127.0.0." + std::to_string(i + 1), i));
        entries.push_back(
            {"SRV" + std::string(1, static_cast<char>('A' + i)), 0, fakes.back()->port(), false});
    }

    // The bare round trips a refresh needs, one after the other.
    double bare = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = Clock::now();
        for (const auto& fake : fakes) {
            CIPData reply;
            if (!roundTrip(*fake, reply)) std::fprintf(stderr, "no reply\n");
        }
        bare = std::min(bare, std::chrono::duration<double>(Clock::now() - start).count());
    }

    AdminChannels::Ports ports;
    ports.sendRecord = [&](const ServerEntry& to, const CIPData&, CIPData& reply) {
        for (size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].name == to.name) return roundTrip(*fakes[i], reply);
        }
        return false;
    };
    AdminChannels channels(ports);
    AdminBackend backend;
    backend.global = [](const std::string&) { return std::string(); };
    backend.setGlobal = [](const std::string&, const std::string&) {};
    backend.ownServerName = [] { return std::string("SRVX"); };
    backend.updateInterval = [] { return 3600; };
    backend.servers = [&] { return entries; };
    backend.sessions = [&](const ServerEntry& server) { return channels.sessions(server); };
    AdminWindow window(backend);
    window.show();
    window.rebuildServers();
    // Sleeps between events as the window's own event loop does, so the wait takes no core
    // from the workers; every request out ends in an event to the window.
    const auto waitIdle = [&] {
        while (window.busy() || window.servers().size() < kServers)
            QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    };
    waitIdle();

    // The window thread's longest pause while the refreshes run.
    QElapsedTimer beat;
    qint64 longest = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (beat.isValid())
            longest = std::max(longest, beat.restart());
        else
            beat.start();
    });
    ticker.start(1);
    const auto timeRefreshes = [&] {
        double best = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            const auto start = Clock::now();
            window.refresh();
            waitIdle();
            best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
        }
        return best;
    };
    const double steady = timeRefreshes();
    for (auto& fake : fakes)
        fake->keepChanging(true);
    const double changing = timeRefreshes();
    ticker.stop();
    std::printf(
        "refresh of %d servers x %d sessions x 3 drives, the bare type-13 round trips %.2f ms:\n"
        "  nothing changed: %.2f ms, ratio %.2f (goal <= 2)\n"
        "  every drive changed: %.2f ms, ratio %.2f\n"
        "%d sessions shown; longest window stall %lld ms (goal < 50)\n",
        kServers, kSessions, bare * 1000, steady * 1000, steady / bare, changing * 1000,
        changing / bare, window.sessionCount(), static_cast<long long>(longest));
    return 0;
}
