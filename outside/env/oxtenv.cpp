// The exported calls of the configuration stores.
#include "oxtenv.h"

#include <string>

#include "env_store.h"
#include "platform/ascii.h"
#include "platform/export.h"
#include "platform/named_mutex.h"
#include "platform/registry.h"

using ombrix::env::EnvStore;
using ombrix::env::globalStore;
using ombrix::env::sessionStore;
using ombrix::platform::NamedMutex;

namespace {

// Where a user's own preferences live; read between the session store and the global store.
constexpr const char* kUserSettingsKey = "HKCU\\SOFTWARE\\Norvane\\Ombrix TS v5\\Settings";
constexpr const char* kRightsBlob = "security";

NamedMutex& globalLock() {
    static NamedMutex mutex("Global\\OMX_TS_ENV_GLOBAL_LOCK");
    return mutex;
}

NamedMutex& sessionLock() {
    static NamedMutex mutex("OMX_TS_ENV_SESSION_LOCK");
    return mutex;
}

bool acquired(NamedMutex::WaitResult result) {
    return result == NamedMutex::WaitResult::Acquired ||
           result == NamedMutex::WaitResult::Abandoned;
}

int getValue(EnvStore* store, const char* key, char* buffer, int size) {
    if (store == nullptr || key == nullptr) return 0;
    return store->getInto(key, buffer, size) ? 1 : 0;
}

int setValue(EnvStore* store, const char* key, const char* value) {
    if (store == nullptr || key == nullptr || *key == '\0') return 0;
    return store->set(key, value != nullptr ? value : "") ? 1 : 0;
}

int enumValues(EnvStore* store, void* context, EnvEnumCallback callback) {
    if (store == nullptr || callback == nullptr) return 0;
    return store->forEach([&](std::string_view key, std::string_view value) {
        std::string k(key), v(value);
        return callback(context, k.c_str(), v.c_str()) != 0;
    });
}

}  // namespace

OMX_EXPORT int EnvSetUserValue(const char* key, const char* value) {
    return setValue(sessionStore(), key, value);
}

OMX_EXPORT int EnvGetUserValue(const char* key, char* buffer, int size) {
    return getValue(sessionStore(), key, buffer, size);
}

OMX_EXPORT int EnvSetGlobalValue(const char* key, const char* value) {
    return setValue(globalStore(), key, value);
}

OMX_EXPORT int EnvGetGlobalValue(const char* key, char* buffer, int size) {
    return getValue(globalStore(), key, buffer, size);
}

OMX_EXPORT int EnvLockUser(int timeoutMs) {
    return acquired(sessionLock().lock(timeoutMs));
}

OMX_EXPORT int EnvUnlockUser(void) {
    sessionLock().unlock();
    return 1;
}

OMX_EXPORT int EnvLockGlobal(int timeoutMs) {
    return acquired(globalLock().lock(timeoutMs));
}

OMX_EXPORT int EnvUnlockGlobal(void) {
    globalLock().unlock();
    return 1;
}

OMX_EXPORT int EnvLoadSecurity(const void* data, int length) {
    EnvStore* store = globalStore();
    if (store == nullptr || length < 0 || (data == nullptr && length > 0)) return 0;
    std::string_view bytes(static_cast<const char*>(data), data == nullptr ? 0 : length);
    return store->setBlob(kRightsBlob, bytes) ? 1 : 0;
}

OMX_EXPORT int EnvGetSecurity(void* buffer, int size) {
    EnvStore* store = globalStore();
    if (store == nullptr) return 0;
    auto bytes = store->getBlob(kRightsBlob);
    if (!bytes) return 0;
    if (buffer != nullptr && size >= static_cast<int>(bytes->size())) {
        bytes->copy(static_cast<char*>(buffer), bytes->size());
    }
    return static_cast<int>(bytes->size());
}

// A preference: the session's own value first, then the user's settings in the registry, then
// the machine-wide value.
OMX_EXPORT int EnvGetSetting(const char* key, char* buffer, int size) {
    if (key == nullptr) return 0;
    // A session value cleared to "" is no value: the user's and the machine's ones count then.
    EnvStore* session = sessionStore();
    if (std::optional<std::string> own = session ? session->get(key) : std::nullopt;
        own && !own->empty()) {
        ombrix::ascii::copyToBuffer(*own, buffer, size);
        return 1;
    }
    std::string text;
    if (ombrix::registry::getString(kUserSettingsKey, key, text) == 0) {
        ombrix::ascii::copyToBuffer(text, buffer, size);
        return 1;
    }
    return getValue(globalStore(), key, buffer, size);
}

OMX_EXPORT int EnvDeleteUserValue(const char* key) {
    EnvStore* store = sessionStore();
    return store != nullptr && key != nullptr && store->remove(key) ? 1 : 0;
}

OMX_EXPORT int EnvDeleteGlobalValue(const char* key) {
    EnvStore* store = globalStore();
    return store != nullptr && key != nullptr && store->remove(key) ? 1 : 0;
}

OMX_EXPORT int EnvEnumUserValues(void* context, EnvEnumCallback callback) {
    return enumValues(sessionStore(), context, callback);
}

OMX_EXPORT int EnvEnumGlobalValues(void* context, EnvEnumCallback callback) {
    return enumValues(globalStore(), context, callback);
}
