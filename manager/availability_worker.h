#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// Watches in the background whether the catalogue's image files can be reached: the images the
// list shows first, then every image in turn, a new full pass after a pause. A change (or the
// first answer) for an image is reported, to be handled on the window thread.
namespace ombrix::mng {

class AvailabilityWorker {
  public:
    struct Hooks {
        std::function<std::string(int index)> imagePath;  // empty when the catalogue has none
        std::function<bool(const std::string& path)> reachable;
        std::function<void(int index, bool available)> changed;
        std::function<void(int level, const std::string& line)> log;
        // Takes and lets go of the global and then the session store's lock: the worker only
        // pauses when it can have both, so it never pauses while another holds them.
        std::function<bool()> storesFree;
        std::chrono::milliseconds pause{1000};  // one of the eleven between full passes
    };

    // The answers of query().
    static constexpr int kUnknown = 1;
    static constexpr int kAvailable = 2;
    static constexpr int kUnavailable = 3;

    explicit AvailabilityWorker(Hooks hooks);
    ~AvailabilityWorker();
    AvailabilityWorker(const AvailabilityWorker&) = delete;
    AvailabilityWorker& operator=(const AvailabilityWorker&) = delete;

    void start();
    void stop();
    // Every catalogue index; the full pass starts again from the first.
    void setAll(std::vector<int> indexes);
    // The images the list now shows: checked before anything else.
    void showing(std::vector<int> indexes);
    int query(int index) const;
    bool suspend();
    void resume();

  private:
    void run();
    void check(int index);
    void log(int level, const std::string& line) const {
        if (hooks_.log) hooks_.log(level, line);
    }

    Hooks hooks_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<int> displayed_;
    std::vector<int> all_;
    size_t next_ = 0;
    std::unordered_map<int, bool> known_;
    bool passRequested_ = false;  // a new list of all images: the full pass starts at once
    bool restart_ = false;        // the displayed queue changed: the pass over it starts again
    bool stop_ = false;
    bool paused_ = false;
    std::thread thread_;
};

}  // namespace ombrix::mng
