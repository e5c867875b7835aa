#include "session_notifications.h"

#include <charconv>
#include <string_view>

#include "common/names.h"

namespace ombrix::helper {

namespace codes = ombrix::pipes;

namespace {

constexpr const char* kMsgTreeChanged = "MSG_OXTTREE_CHANGED";
constexpr const char* kMsgImageFileChanged = "MSG_OXTIMGFILE_CHANGED";
constexpr const char* kMsgConfigPathChanged = "MSG_OXTCFGPATH_CHANGED";
constexpr const char* kMsgDriveAccessed = "MSG_OXTNOTIFY_DRIVEACCESS";

}  // namespace

std::vector<ombrix::platform::BusMessage> messagesForNotification(const CMountRequest& record,
                                                                  uint64_t sender) {
    namespace names = ombrix::names;
    const char* name = nullptr;
    switch (record.m_request) {
        case codes::kAccessNotice: name = kMsgDriveAccessed; break;
        case codes::kCatalogueReloaded: name = kMsgImageFileChanged; break;
        case codes::kImagesRemoved: name = names::kMsgImageRemoved; break;
        case codes::kImagesAdded: name = names::kMsgImageAdded; break;
        case codes::kImagesChanged: name = names::kMsgIndexChanged; break;
        case codes::kTreeChanged: name = kMsgTreeChanged; break;
        case codes::kAdminDrivesChanged: name = names::kMsgDrivesChanged; break;
        case codes::kConfigPathChanged: name = kMsgConfigPathChanged; break;
        default: return {};
    }
    std::vector<ombrix::platform::BusMessage> messages;
    bool indexed = record.m_request == codes::kImagesRemoved ||
                   record.m_request == codes::kImagesAdded ||
                   record.m_request == codes::kImagesChanged;
    if (indexed) {
        // The indexes travel as text ("5001|5007|"), which survives every copy of the record.
        std::string_view text = record.text();
        while (!text.empty()) {
            size_t end = text.find('|');
            std::string_view item = text.substr(0, end);
            int64_t index = 0;
            auto [ptr, error] = std::from_chars(item.data(), item.data() + item.size(), index);
            if (error == std::errc() && ptr == item.data() + item.size() && index > 0) {
                messages.push_back({name, sender, index});
            }
            if (end == std::string_view::npos) break;
            text.remove_prefix(end + 1);
        }
    }
    if (messages.empty()) messages.push_back({name, sender, 0});
    return messages;
}

}  // namespace ombrix::helper
