// A language resource library for the service's tests: version 1, text 21 in German.
#include <cstring>

extern "C" __attribute__((visibility("default"))) int GetLGVersion() {
    return 1;
}

extern "C" __attribute__((visibility("default"))) int GetLGString(int id, char* buffer, int size) {
    const char* text = id == 21 ? "Keine Verbindung zum Treiber" : nullptr;
    if (text == nullptr || buffer == nullptr || size <= 0) return 0;
    std::strncpy(buffer, text, static_cast<size_t>(size) - 1);
    buffer[size - 1] = '\0';
    return static_cast<int>(std::strlen(buffer));
}
