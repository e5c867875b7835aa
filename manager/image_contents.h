#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/image_container.h"
#include "manager/disc_sectors.h"
#include "manager/iso_filesystem.h"
#include "manager/track_data.h"
#include "platform/account.h"

// The contents of one image: its description, its tracks and, for each data track, the folders
// and files of its file system. Opening starts one worker per data track that walks its file
// system, so callers may show a track as soon as its walk is done; closing stops the walks.
namespace ombrix::contents {

struct TrackContents {
    size_t index = 0;  // in the container's track table
    image::TrackRecord record;
    std::unique_ptr<TrackData> data;  // null for tracks without data
    // The track's file system reads through this: its files may lie in earlier tracks.
    std::unique_ptr<DiscSectors> sectors;
    FileSystem files;
    int walkResult = kWalkNoDescriptor;
    std::atomic<bool> walked{false};
};

// Whether opening walks every data track's file system, or none (the caller reads a track's
// tree itself, as it is visited).
enum class Walks { everyDataTrack, none };

class ImageContents {
  public:
    ImageContents() = default;
    ~ImageContents() { close(); }
    ImageContents(const ImageContents&) = delete;
    ImageContents& operator=(const ImageContents&) = delete;

    // Forgets what was open, reads the image's header and track table and starts the walks.
    // 0; the header's error (the image cannot be shown); or the track table's error, in which
    // case the description is known and there are no tracks. With `identity`, every file of the
    // image is opened with that account's rights, now and when later reads need a part file.
    int open(const std::string& path,
             std::shared_ptr<const platform::FileIdentity> identity = nullptr,
             Walks walks = Walks::everyDataTrack);
    // Waits until every walk has ended.
    void wait();
    // Stops the walks, waits for them and forgets the image.
    void close();

    const std::string& path() const { return path_; }
    const std::string& description() const { return description_; }
    // Valid after open; a track's file system only once its `walked` is set (or after wait()).
    const std::vector<std::unique_ptr<TrackContents>>& tracks() const { return tracks_; }

    // Reads bytes of file `node` of track `track` (see readFileBytes).
    int read(size_t track, uint32_t node, uint64_t offset, size_t length, uint8_t* out,
             size_t& got) const;

    // Copies file `node` of track `track` to `target`. Fails with 80 when `target` exists and
    // `overwrite` is false. The copy is made beside the target and put in place only when it is
    // complete, so a failed extraction leaves no partial file and the old target intact.
    int extract(size_t track, uint32_t node, const std::string& target, bool overwrite) const;

  private:
    std::string path_;
    std::string description_;
    std::vector<std::unique_ptr<TrackContents>> tracks_;
    std::vector<std::thread> workers_;
    std::atomic<bool> stop_{false};
};

// Error code for an existing extraction target.
constexpr int kTargetExists = 80;

}  // namespace ombrix::contents
