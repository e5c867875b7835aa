// The management window's start with a 5,000-image catalogue and a 500-folder tree, against
// filling a bare item model with the same 5,000 rows of texts; and the longest pause of the
// window thread while the availability worker checks every image.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QStandardItemModel>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <thread>

#include "manager/image_columns.h"
#include "manager/mng_document.h"
#include "manager/test_probes.h"
#include "manager/ui/mng_controller.h"
#include "manager/ui/mng_main_window.h"

namespace {

using namespace ombrix::mng;

constexpr int kImages = 5000;
constexpr int kFolders = 500;

std::vector<CatalogueImage> catalogue() {
    std::vector<CatalogueImage> images;
    for (int i = 1; i <= kImages; ++i) {
        CatalogueImage image;
        image.index = i;
        image.path = "/srv/images/disc" + std::to_string(i) + ".om4";
        image.description = "Disc number " + std::to_string(i);
        image.sizeBytes = uint64_t(i) * 4096;
        image.created = 1765000000 + i;
        images.push_back(std::move(image));
    }
    return images;
}

// 500 folders, and every image at the root, so the list shows all of them.
DocumentSources sources() {
    DocumentSources s;
    s.catalogue = catalogue;
    s.drives = [] { return std::vector<VirtualDrive>{{'E', 1, ""}, {'F', -1, ""}}; };
    s.localTreeLines = [] {
        std::vector<std::string> lines;
        for (int f = 0; f < kFolders; ++f)
            lines.push_back("\\Group" + std::to_string(f / 25) + "\\Folder" + std::to_string(f) +
                            "\\|");
        return lines;
    };
    s.globalTreeLines = [] { return std::vector<std::string>{}; };
    return s;
}

void BM_WindowStart(benchmark::State& state) {
    const DocumentSources s = sources();
    for (auto _ : state) {
        MngDocument document;
        document.load(s, {});
        MngMainWindow window(document, {}, shownColumns(""), {});
        window.show();
        QApplication::processEvents();
        if (window.list()->topLevelItemCount() < kImages) state.SkipWithError("list not filled");
    }
}

void BM_BareModel(benchmark::State& state) {
    const std::vector<CatalogueImage> images = catalogue();
    for (auto _ : state) {
        QStandardItemModel model(0, kColumnCount);
        for (const auto& image : images) {
            QList<QStandardItem*> row;
            for (int c = 0; c < kColumnCount; ++c)
                row << new QStandardItem(
                    QString::fromStdString(c == 0 ? image.description : image.path));
            model.appendRow(row);
        }
        benchmark::DoNotOptimize(model.rowCount());
    }
}

// The longest time the window thread did not get to run a 1 ms timer while the worker checked
// every image (each one's first answer changes its state, so each is reported to the window).
void BM_AvailabilityStall(benchmark::State& state) {
    for (auto _ : state) {
        MngController::Setup setup;
        setup.sources = sources();
        setup.probes = ombrix::mng::testing::everythingAllowed();
        setup.columns = shownColumns("");
        std::atomic<int> checked{0};
        setup.reachable = [&](const std::string& path) {
            ++checked;
            return path.size() % 2 == 0;
        };
        setup.availabilityPause = std::chrono::seconds(10);
        MngController controller(setup);
        controller.window().show();
        QApplication::processEvents();
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 longest = 0;
        QTimer tick;
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        clock.start();
        tick.start();
        controller.startAvailability();
        while (checked < kImages || clock.elapsed() - last > 0 || clock.elapsed() < 200) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            if (checked >= kImages && clock.elapsed() > 200) break;
        }
        // Let the last reports arrive.
        for (int i = 0; i < 50; ++i)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        state.counters["longest_stall_ms"] = static_cast<double>(longest);
        controller.availability().stop();
    }
}

}  // namespace

BENCHMARK(BM_WindowStart)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_BareModel)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_AvailabilityStall)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
