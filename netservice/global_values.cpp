#include "netservice/global_values.h"

#include <vector>

#include "outside/env/oxtenv.h"
#include "platform/ascii.h"

namespace netsvc {

std::string GlobalValue(const char* key, int size) {
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
    if (EnvGetGlobalValue(key, buffer.data(), size + 1) == 0) return {};
    return buffer.data();
}

void SetGlobal(const std::string& key, const std::string& value) {
    EnvSetGlobalValue(key.c_str(), value.c_str());
}

void DeleteGlobal(const std::string& key) {
    EnvDeleteGlobalValue(key.c_str());
}

namespace {

struct NumberedVisit {
    std::string_view prefix;
    std::vector<std::pair<std::string, std::string>> found;
};

int collect(void* context, const char* key, const char* value) {
    auto* visit = static_cast<NumberedVisit*>(context);
    if (ombrix::ascii::startsWithIgnoreCase(key, visit->prefix))
        visit->found.emplace_back(key, value);
    return 1;
}

}  // namespace

void ForEachNumberedKey(std::string_view prefix,
                        const std::function<void(const std::string& key, long number,
                                                 const std::string& value)>& visit) {
    NumberedVisit found{prefix, {}};
    EnvEnumGlobalValues(&found, collect);
    for (const auto& [key, value] : found.found) {
        auto number = ombrix::ascii::digitsNumber(std::string_view(key).substr(prefix.size()));
        if (number) visit(key, *number, value);
    }
}

GlobalLock::GlobalLock(int timeoutMs) : held_(EnvLockGlobal(timeoutMs) != 0) {}

GlobalLock::~GlobalLock() {
    if (held_) EnvUnlockGlobal();
}

}  // namespace netsvc
