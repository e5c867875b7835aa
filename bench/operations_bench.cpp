// The management program's image operations against the library calls they wrap, in one run:
// adding 1,000 images in one go (each catalogued, placed in the tree, the tree written once)
// against 1,000 OMXAddImageCheck calls alone; and converting a 300 MB ISO under the progress
// dialog against the converter alone.
//   operations_bench [--no-conversion] [--iso-megabytes N]
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/oxtcomm.h"
#include "common/sample_images.h"
#include "manager/image_operations.h"
#include "manager/image_tree.h"
#include "manager/ui/qt_operation_dialogs.h"
#include "omxcvt.h"
#include "oxtenv.h"
#include "support/temp_root.h"

namespace {

using namespace ombrix::mng;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kImages = 1000;
constexpr int kRounds = 3;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> writeImages(const fs::path& folder, const std::string& prefix) {
    std::vector<std::string> files;
    fs::create_directories(folder);
    for (int i = 0; i < kImages; ++i) {
        const fs::path file = folder / (prefix + std::to_string(i) + ".om4");
        ombrix::samples::writeImage(file, ombrix::samples::makeHeader(prefix + std::to_string(i)));
        files.push_back(file.string());
    }
    return files;
}

double addAlone(const std::vector<std::string>& files) {
    const auto start = Clock::now();
    for (const std::string& file : files) {
        OmxImageInfo record{};
        std::strncpy(record.path, file.c_str(), sizeof record.path - 1);
        if (OMXAddImageCheck(&record, OMX_RANGE_SHARED, 0) <= 0)
            std::fprintf(stderr, "add failed\n");
    }
    return secondsSince(start);
}

// Messages are printed; nothing is asked.
struct QuietDialogs : QtOperationDialogs {
    QuietDialogs() : QtOperationDialogs(nullptr) {}
    void tell(const std::string& text, ombrix::ui::Icon) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
};

double addThroughOperations(const std::vector<std::string>& files, const fs::path& treeFile) {
    MngDocument document;
    document.load({}, {});
    QuietDialogs dialogs;
    AccessState access;
    access.canChangeGlobalCatalogue = access.canChangeGlobalTree = access.useGlobalImages = true;
    ImageOperations::Host host;
    host.document = &document;
    host.access = [&] { return access; };
    host.saveTrees = [&] {
        const std::string text = document.tree().fileText(TreeFile::Global, "", [&](int index) {
            const CatalogueImage* image = document.image(index);
            return image != nullptr ? image->path : std::string();
        });
        saveTreeFile(treeFile.string(), text);
    };
    ClientPorts ports;
    ports.addImage = [](OmxImageInfo& record, int range) {
        return OMXAddImageCheck(&record, range, 0);
    };
    ports.header = [](const std::string& path, OmxImageHeader& header) {
        return OMXGetHeader(path.c_str(), &header);
    };
    ImageOperations operations(host, ports, dialogs);
    const auto start = Clock::now();
    const auto added = operations.addFiles(files, "\\");
    const double seconds = secondsSince(start);
    if (added.size() != files.size()) std::fprintf(stderr, "only %zu added\n", added.size());
    return seconds;
}

// An ISO of one file of `megabytes` of data that does not compress.
fs::path makeIso(const fs::path& folder, int megabytes) {
    const fs::path source = folder / "src";
    fs::create_directories(source);
    std::ofstream out(source / "data.bin", std::ios::binary);
    std::mt19937_64 random(7);
    std::vector<uint64_t> block(1 << 17);
    for (int m = 0; m < megabytes; ++m) {
        for (auto& word : block)
            word = random();
        out.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
    }
    out.close();
    const fs::path iso = folder / "disc.iso";
    const std::string command = "xorriso -as mkisofs -J -V BENCH -o '" + iso.string() + "' '" +
                                source.string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return {};
    fs::remove_all(source);
    return iso;
}

void removeConverted(const fs::path& iso) {
    for (const auto& entry : fs::directory_iterator(iso.parent_path())) {
        if (entry.path() != iso) fs::remove(entry.path());
    }
}

thread_local const ProgressReport* report = nullptr;

double convertAlone(const fs::path& iso) {
    removeConverted(iso);
    const auto start = Clock::now();
    const int result = OMXConvertISO2OM4(iso.c_str(), OMXCVT_PLAIN, 1, [](int) { return 1; });
    const double seconds = secondsSince(start);
    if (result != 0) std::fprintf(stderr, "conversion failed: %d\n", result);
    return seconds;
}

double convertUnderDialog(const fs::path& iso) {
    removeConverted(iso);
    QuietDialogs dialogs;
    const auto start = Clock::now();
    const int result = dialogs.runConversion(1, 1, iso.string(), [&](const ProgressReport& r) {
        report = &r;
        const int code = OMXConvertISO2OM4(iso.c_str(), OMXCVT_PLAIN, 1,
                                           [](int percent) { return (*report)(percent) ? 1 : 0; });
        report = nullptr;
        return code;
    });
    const double seconds = secondsSince(start);
    if (result != 0) std::fprintf(stderr, "conversion failed: %d\n", result);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    bool conversion = true;
    int megabytes = 300;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-conversion") == 0) conversion = false;
        if (std::strcmp(argv[i], "--iso-megabytes") == 0 && i + 1 < argc)
            megabytes = std::atoi(argv[++i]);
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("operations_bench [--no-conversion] [--iso-megabytes N]\n");
            return 0;
        }
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ombrix::test::TempRoot root;
    const fs::path pool = root / "pool";
    fs::create_directories(pool);
    const std::string catalogue = (pool / "OMXimg.dat").string();
    EnvSetGlobalValue("OmxConfigFileNet", catalogue.c_str());

    double alone = 1e9, operations = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        const auto a = writeImages(root / ("a" + std::to_string(round)), "a");
        const auto b = writeImages(root / ("b" + std::to_string(round)), "b");
        fs::remove(catalogue);
        alone = std::min(alone, addAlone(a));
        fs::remove(catalogue);
        operations = std::min(operations, addThroughOperations(b, pool / "OMXTree.dat"));
    }
    std::printf(
        "add %d images: OMXAddImageCheck alone %.3f s, through the operation %.3f s, "
        "ratio %.2f (goal <= 1.5)\n",
        kImages, alone, operations, operations / alone);

    if (!conversion) return 0;
    const fs::path iso = makeIso(root / "iso", megabytes);
    if (iso.empty()) {
        std::printf("conversion: xorriso is needed\n");
        return 0;
    }
    convertAlone(iso);  // the ISO is read once into the page cache before anything is timed
    double cvtAlone = 1e9, cvtDialog = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        cvtAlone = std::min(cvtAlone, convertAlone(iso));
        cvtDialog = std::min(cvtDialog, convertUnderDialog(iso));
    }
    std::printf(
        "convert a %d MB ISO: omxcvt alone %.3f s, under the progress dialog %.3f s, "
        "ratio %.3f (goal <= 1.05)\n",
        megabytes, cvtAlone, cvtDialog, cvtDialog / cvtAlone);
    return 0;
}
