#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>

#include "manager/availability_worker.h"
#include "manager/notifications.h"
#include "manager/start_options.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

using namespace ombrix::mng;

TEST(Notifications, OwnMessagesAreIgnoredButEjectsAndBusyFlagsHoldRefreshes) {
    BusyFlags idle;
    const pid_t self = 100;
    for (Notice n : {Notice::IndexChanged, Notice::Insert, Notice::ImageAdded, Notice::ImageRemoved,
                     Notice::TreeChanged, Notice::ImageFileChanged}) {
        EXPECT_EQ(reactionTo(n, self, self, idle), Reaction::Ignore) << noticeName(n);
        EXPECT_NE(reactionTo(n, 7, self, idle), Reaction::Ignore) << noticeName(n);
    }
    EXPECT_EQ(reactionTo(Notice::Eject, self, self, idle), Reaction::UpdateDrive);
    EXPECT_EQ(reactionTo(Notice::TreeChanged, 7, self, idle), Reaction::FullRefresh);

    BusyFlags busy;
    busy.set(2);
    busy.set(4);
    EXPECT_EQ(reactionTo(Notice::ImageFileChanged, 7, self, busy), Reaction::RefreshLater);
    busy.holdRefresh();
    EXPECT_FALSE(busy.clear(2));  // still deleting
    EXPECT_TRUE(busy.clear(4));   // the last one: the held refresh is due now, once
    EXPECT_FALSE(busy.refreshPending());
    busy.set(1);
    EXPECT_FALSE(busy.clear(1));  // nothing was held

    EXPECT_EQ(noticeNamed("MSG_OXTNOTIFY_EJECT"), Notice::Eject);
    EXPECT_FALSE(noticeNamed("MSG_OXTIMGFILE_UPDATE").has_value());
    EXPECT_EQ(arrivalLine(Notice::Eject, 7, self, 'F'), "---->MSG: OnOMXMSGEject(7[100]/70 (F:)");
    EXPECT_EQ(arrivalLine(Notice::SettingsChanged, 7, self, 2),
              "---->MSG: MSG_OMXSETTINGSCHANGED (7/2)");
}

TEST(StartOptions, SwitchesImagesAndLogLevels) {
    EXPECT_EQ(parseStartOptions({"/SEARCH"}).open, StartOptions::Open::Search);
    EXPECT_EQ(parseStartOptions({"/convert"}).open, StartOptions::Open::Convert);
    EXPECT_EQ(parseStartOptions({"/create", "x"}).open, StartOptions::Open::Nothing);
    EXPECT_EQ(parseStartOptions({"/log"}).logLevel, 1);
    EXPECT_EQ(parseStartOptions({"/LogMax"}).logLevel, 2);
    EXPECT_EQ(parseStartOptions({"x", "/logmin"}).logLevel, 0);
    EXPECT_FALSE(parseStartOptions({}).logLevel.has_value());
    EXPECT_TRUE(parseStartOptions({}).empty);
    EXPECT_EQ(parseStartOptions({"\"/srv/a b.OM4\""}).imageToAdd, "/srv/a b.OM4");
    EXPECT_EQ(parseStartOptions({"/srv/a.iso"}).imageToAdd, "");
}

TEST(StartOptions, LogIsMadeAnewAndCutsLongLines) {
    ombrix::test::TempRoot root;
    const std::string path = (root / "state/ombrix/OMXMNG.log").string();
    ombrix::test::writeFile(root / "old.log", "x");
    {
        ProgramLog log;
        ASSERT_TRUE(log.open(path, 1));
        log.write(1, "rights");
        log.write(2, "detail");  // above the log's level
        log.write(0, std::string(600, 'm'));
    }
    std::string text = ombrix::test::readFile(path);
    EXPECT_EQ(text.find("detail"), std::string::npos);
    EXPECT_NE(text.find(" | rights"), std::string::npos);
    EXPECT_NE(text.find(" | " + std::string(520, 'm') + ""), std::string::npos);
    EXPECT_EQ(text.find(std::string(521, 'm')), std::string::npos);
    ProgramLog again;
    ASSERT_TRUE(again.open(path, 0));
    again.write(0, "new");
    EXPECT_EQ(ombrix::test::readFile(path).find("rights"), std::string::npos);
}

TEST(AvailabilityWorker, ShownImagesFirstChangesReportedOnce) {
    std::mutex lock;
    std::set<int> reachable{1, 2, 3};
    std::vector<std::pair<int, bool>> reports;
    std::vector<int> order;
    AvailabilityWorker::Hooks hooks;
    hooks.imagePath = [](int index) { return index == 9 ? std::string() : std::to_string(index); };
    hooks.reachable = [&](const std::string& path) {
        std::lock_guard guard(lock);
        order.push_back(std::stoi(path));
        return reachable.contains(std::stoi(path));
    };
    hooks.changed = [&](int index, bool available) {
        std::lock_guard guard(lock);
        reports.emplace_back(index, available);
    };
    hooks.pause = std::chrono::milliseconds(5);
    AvailabilityWorker worker(hooks);
    worker.showing({3});
    worker.setAll({1, 2, 3, 4, 9});
    worker.start();
    ASSERT_TRUE(
        ombrix::test::waitFor([&] { return worker.query(9) != AvailabilityWorker::kUnknown; }));
    {
        std::lock_guard guard(lock);
        ASSERT_FALSE(order.empty());
        EXPECT_EQ(order.front(), 3);
    }
    EXPECT_EQ(worker.query(1), AvailabilityWorker::kAvailable);
    EXPECT_EQ(worker.query(4), AvailabilityWorker::kUnavailable);
    EXPECT_EQ(worker.query(9), AvailabilityWorker::kUnavailable);  // no file in the catalogue
    EXPECT_EQ(worker.query(42), AvailabilityWorker::kUnknown);

    // Later passes report only what changed.
    {
        std::lock_guard guard(lock);
        reports.clear();
        reachable.erase(2);
    }
    ASSERT_TRUE(
        ombrix::test::waitFor([&] { return worker.query(2) == AvailabilityWorker::kUnavailable; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // several more passes
    worker.stop();
    std::lock_guard guard(lock);
    EXPECT_EQ(reports, (std::vector<std::pair<int, bool>>{{2, false}}));
}

TEST(AvailabilityWorker, StopsAtOnceEvenWhilePausingAndPausesOnlyWhenStoresAreFree) {
    AvailabilityWorker::Hooks hooks;
    hooks.pause = std::chrono::seconds(5);
    bool storesFree = false;
    hooks.storesFree = [&] { return storesFree; };
    AvailabilityWorker worker(hooks);
    worker.start();
    EXPECT_FALSE(worker.suspend());
    storesFree = true;
    EXPECT_TRUE(worker.suspend());
    worker.resume();
    const auto started = std::chrono::steady_clock::now();
    worker.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

}  // namespace
