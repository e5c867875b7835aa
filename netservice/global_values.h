#pragma once

#include <functional>
#include <string>
#include <string_view>

// Small helpers around the global store for the network access service.
namespace netsvc {

// Every read of a key uses a buffer of 259 characters; a missing key reads as empty.
std::string GlobalValue(const char* key, int size = 259);
void SetGlobal(const std::string& key, const std::string& value);
void DeleteGlobal(const std::string& key);

// Calls `visit` for every key that begins with `prefix` (ASCII case ignored) and continues with
// decimal digits only; `number` is their value. Keys with more digits than fit are passed over.
void ForEachNumberedKey(std::string_view prefix,
                        const std::function<void(const std::string& key, long number,
                                                 const std::string& value)>& visit);

// The global store's lock, held for the object's lifetime when it was obtained.
class GlobalLock {
  public:
    explicit GlobalLock(int timeoutMs);
    ~GlobalLock();
    GlobalLock(const GlobalLock&) = delete;
    GlobalLock& operator=(const GlobalLock&) = delete;
    explicit operator bool() const { return held_; }

  private:
    bool held_ = false;
};

}  // namespace netsvc
