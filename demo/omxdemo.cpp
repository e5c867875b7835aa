// omxdemo: shows the catalogue at work in one machine root. It makes a few image containers,
// adds them to the shared catalogue file through the client library, publishes the file into the
// global store the way the network access service does, and lists the catalogue as every
// program sees it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/inifile.h"
#include "common/oxtcomm.h"
#include "common/sample_images.h"
#include "oxtenv.h"

namespace fs = std::filesystem;

namespace {

const char* kUsage =
    "usage: omxdemo IMAGE_FOLDER\n"
    "       omxdemo --add IMAGE\n"
    "Adds sample images from IMAGE_FOLDER (or the one IMAGE) to the shared catalogue named by\n"
    "the global value OmxConfigFileNet, publishes the catalogue into the global store and lists\n"
    "it. The machine root is $OMBRIX_ROOT.\n";

// Every entry of the catalogue file becomes "OMXImage_%.4d" in the global store (numbers below
// 5000 count from 5000), with the highest index and the count beside them.
bool publishCatalogue(const std::string& path) {
    CIniFile file(path);
    if (int err = file.OpenAndLoad(false, CIniFile::kAttempts)) {
        std::fprintf(stderr, "omxdemo: cannot read %s (error %d)\n", path.c_str(), err);
        return false;
    }
    file.Close();
    CEntryList entries;
    file.GetSectionEntries("Images", entries);
    int highest = 5000, count = 0;
    EnvLockGlobal(2000);
    for (const CEntry& entry : entries) {
        if (entry.key.rfind("OMXIMAGE_", 0) != 0) continue;
        int index = std::atoi(entry.key.c_str() + 9);
        if (index < 5000) index += 5000;
        char key[32];
        std::snprintf(key, sizeof key, "OMXImage_%.4d", index);
        EnvSetGlobalValue(key, entry.value.c_str());
        highest = std::max(highest, index);
        ++count;
    }
    EnvSetGlobalValue("OMXIndexHiNet", std::to_string(highest).c_str());
    EnvSetGlobalValue("OMXImageCount", std::to_string(count).c_str());
    EnvUnlockGlobal();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--add") == 0) {
        // The administrator catalogues an image, so that the users may insert it.
        OmxImageInfo info;
        std::memset(&info, 0, sizeof info);
        std::snprintf(info.path, sizeof info.path, "%s", argv[2]);
        info.driveLetter = '0';
        int index = OMXAddImage(&info, OMX_RANGE_SHARED);
        char catalogue[1024];
        if (index < 0 || !EnvGetGlobalValue("OmxConfigFileNet", catalogue, sizeof catalogue) ||
            !publishCatalogue(catalogue)) {
            std::fprintf(stderr, "omxdemo: cannot add %s to the catalogue\n", argv[2]);
            return 1;
        }
        std::printf("catalogued %s -> %d\n", argv[2], index);
        return 0;
    }
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, argc == 2 ? stdout : stderr);
        return argc == 2 ? 0 : 2;
    }
    char catalogue[1024];
    if (!EnvGetGlobalValue("OmxConfigFileNet", catalogue, sizeof catalogue)) {
        std::fprintf(stderr, "omxdemo: the global value OmxConfigFileNet is not set\n");
        return 1;
    }
    const struct {
        const char* file;
        const char* description;
        const char* program;
        char drive;
    } samples[] = {
        {"office.om4", "Office suite 2000", "%OMXDrive%/setup", 'E'},
        {"atlas.om4", "World atlas", "", 'F'},
        {"encyclopedia.om4", "Encyclopedia, volume 1", "%OMXDrive%/start", '0'},
    };
    fs::path folder(argv[1]);
    for (const auto& sample : samples) {
        fs::path image = folder / sample.file;
        ombrix::samples::writeImage(image, ombrix::samples::makeHeader(sample.description));
        OmxImageInfo info;
        std::memset(&info, 0, sizeof info);
        std::snprintf(info.path, sizeof info.path, "%s", image.c_str());
        std::snprintf(info.program, sizeof info.program, "%s", sample.program);
        info.driveLetter = sample.drive;
        int index = OMXAddImage(&info, OMX_RANGE_SHARED);
        std::printf("added %-40s -> %d\n", image.c_str(), index);
        if (index < 0) return 1;
        if (!publishCatalogue(catalogue)) return 1;
    }

    std::printf("\n%d images in the catalogue:\n", OMXGetNumberOfImages());
    for (int index = 5001; index <= OMXGetIndexHiNet(); ++index) {
        OmxImageInfo info;
        if (!OMXGetImageInfoFromIndex(index, &info)) continue;
        std::printf("  %d  %-24s drive %c  %s\n", index, info.description,
                    info.driveLetter == '0' ? '-' : info.driveLetter, info.path);
    }
    return 0;
}
