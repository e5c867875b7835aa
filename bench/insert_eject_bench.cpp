// Insert + eject round trips of one session through the whole chain (client library, helper
// library, management service, driver stand-in), against the bare round trip of the service
// pipe (request 7, answered from memory) and an echo pipe, all in the same run.
#include <benchmark/benchmark.h>
#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "common/names.h"
#include "common/oxtcomm_drives.h"
#include "common/sample_images.h"
#include "outside/env/oxtenv.h"
#include "pipes/pipe_call.h"
#include "platform/terminal_sessions.h"
#include "profiles/profile.h"
#include "service/miniport_client.h"
#include "support/accounts.h"
#include "support/echo_pipe.h"
#include "support/program.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

using ombrix::test::Program;

struct Chain {
    ombrix::test::TempRoot root;
    std::unique_ptr<Program> driver, service;
    std::unique_ptr<ombrix::test::EchoPipe> echo;
    std::unique_ptr<ombrix::test::EchoPipe> net;
    std::string image;

    Chain() {
        image = (root / "bench.om4").string();
        ombrix::samples::writeImage(image, ombrix::samples::makeHeader("bench"));
        CProfileList list;
        CProfile profile;
        profile.name = "all";
        profile.rights = 4;
        profile.security.BuildFromMembers({{ombrix::profiles::Sid::Everyone(), false}});
        list.Profiles().push_back(std::move(profile));
        std::string bytes;
        list.Save(bytes);
        EnvLoadSecurity(bytes.data(), static_cast<int>(bytes.size()));

        driver = std::make_unique<Program>(
            "oxtmpdrv", std::vector<std::string>{"--units", "4", "--no-fuse"}, "/dev/null");
        ombrix::test::waitFor([] { return CMiniport::FindPort() >= 0; });
        service = std::make_unique<Program>("Oxtserv", std::vector<std::string>{"-d"}, "/dev/null");
        ombrix::test::waitFor([] {
            CMountRequest r;
            r.m_request = CMountRequest::kUnitCount;
            return CallPipe(ombrix::names::kServicePipe, r, 500, 1) && r.m_dwData > 0;
        });
        echo = std::make_unique<ombrix::test::EchoPipe>("Bench_Echo");
        net = std::make_unique<ombrix::test::EchoPipe>(ombrix::names::kNetPipe);
        ombrix::wts::logOn(1, "bench");
        setenv("OMBRIX_SESSION", "1", 1);
        CMountRequest logon;
        logon.m_request = CMountRequest::kLogOn;
        logon.m_sessionId = 1;
        logon.setText("bench");
        CallPipe(ombrix::names::kServicePipe, logon, 1500, 3);
        // Session 2 belongs to an ordinary account, whose every request the service judges.
        account = ombrix::test::testAccount("ombrix-bench");
        ombrix::wts::logOn(2, account.name);
        logon.m_sessionId = 2;
        CallPipe(ombrix::names::kServicePipe, logon, 1500, 3);
    }
    ombrix::test::TestAccount account;
    ~Chain() { service->stop(SIGINT); }
};

Chain& chain() {
    static Chain instance;
    return instance;
}

void BM_EchoPipe(benchmark::State& state) {
    chain();
    for (auto _ : state) {
        CMountRequest r;
        if (!CallPipe("Bench_Echo", r, 1500, 3)) state.SkipWithError("echo failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ServicePipeBare(benchmark::State& state) {
    chain();
    for (auto _ : state) {
        CMountRequest r;
        r.m_request = CMountRequest::kUnitCount;
        if (!CallPipe(ombrix::names::kServicePipe, r, 1500, 3)) state.SkipWithError("call failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_InsertEjectRoundTrip(benchmark::State& state) {
    Chain& c = chain();
    for (auto _ : state) {
        if (OMXInsert('E', c.image.c_str(), "", 1, 5, 0) != 0 || OMXEject('E') != 0) {
            state.SkipWithError("insert or eject failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// While it lives, the process acts as `account` (its effective ids), so the service sees that
// account as the caller; the real ids stay root's, so the services can still be stopped.
class ActingAccount {
  public:
    explicit ActingAccount(const ombrix::test::TestAccount& account) {
        saved_.resize(static_cast<size_t>(::getgroups(0, nullptr)));
        saved_.resize(
            static_cast<size_t>(::getgroups(static_cast<int>(saved_.size()), saved_.data())));
        ok_ = ::setgroups(1, &account.gid) == 0 && ::setegid(account.gid) == 0 &&
              ::seteuid(account.uid) == 0;
    }
    ~ActingAccount() {
        (void)!::seteuid(0);
        (void)!::setegid(0);
        (void)!::setgroups(saved_.size(), saved_.data());
    }
    bool ok() const { return ok_; }

  private:
    std::vector<gid_t> saved_;
    bool ok_ = false;
};

// The same round trip by the session of an ordinary account: what the service's checks of its
// caller cost shows against the one above.
void BM_InsertEjectAsAccount(benchmark::State& state) {
    Chain& c = chain();
    setenv("OMBRIX_SESSION", "2", 1);
    {
        ActingAccount as(c.account);
        if (!as.ok()) state.SkipWithError("cannot act as the account");
        for (auto _ : state) {
            if (OMXInsert('E', c.image.c_str(), "", 1, 5, 0) != 0 || OMXEject('E') != 0) {
                state.SkipWithError("insert or eject failed");
                break;
            }
        }
    }
    setenv("OMBRIX_SESSION", "1", 1);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_EchoPipe);
BENCHMARK(BM_ServicePipeBare);
BENCHMARK(BM_InsertEjectRoundTrip);
BENCHMARK(BM_InsertEjectAsAccount);

}  // namespace

BENCHMARK_MAIN();
