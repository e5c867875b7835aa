#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>

// The users' preferences shared by the settings program, the tray, the network mode program and
// the management program. A user's values live in the session store (read through the store's
// setting lookup: session, then user, then machine) and are mirrored in the user's registry key;
// in global mode the objects work on the global defaults file "oxtenv.dat" (section
// "Settings") in the shared configuration folder instead.
namespace ombrix::tools {

// Where the values are read and written; `systemSettingsStorage()` uses the environment
// library, the registry stand-in and the configuration folder.
struct SettingsStorage {
    // A value as the store's setting lookup finds it; nothing when it has none.
    std::function<std::optional<std::string>(const std::string& key)> setting;
    // The session's own value (no fallback); nothing when it has none.
    std::function<std::optional<std::string>(const std::string& key)> userValue;
    std::function<bool(const std::string& key, const std::string& value)> setUserValue;
    // Writes the value under the user's registry key "Software\Norvane\Ombrix TS v5\Settings";
    // false when the key does not open for writing.
    std::function<bool(const std::string& key, const std::string& value)> setRegistryValue;
    // The path of the global defaults file ("OmxConfigPathNet" + "oxtenv.dat"); empty when the
    // folder is not configured.
    std::function<std::string()> globalFile;
};
SettingsStorage systemSettingsStorage();

inline constexpr const char* kGlobalSettingsKey = "OmxGlobalSettings";
inline constexpr const char* kGlobalFileName = "oxtenv.dat";
inline constexpr const char* kGlobalFileSection = "Settings";

class COmxBaseSettings {
  public:
    virtual ~COmxBaseSettings() = default;
    // Writes the values when they changed and clears the dirty flag; 0, or the error of the
    // global defaults file (a Win32-style code) with the flag left set.
    virtual int save() = 0;

    bool dirty() const { return dirty_; }
    void setDirty(bool dirty = true) { dirty_ = dirty; }
    // The object works on the global defaults file ("OmxGlobalSettings" was "1" when it was made).
    bool global() const { return global_; }

  protected:
    explicit COmxBaseSettings(SettingsStorage storage);

    // A stored value: the user's through the setting lookup, or the global file's.
    std::optional<std::string> read(const std::string& key) const;
    // A stored number; in global mode the file's value as a whole decimal number (0 otherwise).
    int readNumber(const std::string& key, int fallback) const;
    // Writes every pair to where the values live: the session store and the registry, or the
    // global file in one save. 0 or the file's error.
    int write(const std::vector<std::pair<std::string, std::string>>& values);

    SettingsStorage storage_;

  private:
    bool global_ = false;
    bool dirty_ = false;
};

// The general preferences.
class COmxSettings : public COmxBaseSettings {
  public:
    explicit COmxSettings(SettingsStorage storage = systemSettingsStorage());
    int save() override;

    std::string homePath;            // "OmxHomePath", never written
    bool cdDatabase = false;         // "OmxSettings" position 1
    bool selectionProgram = true;    // position 2
    bool trayIcon = true;            // position 3
    bool tooltips = true;            // position 4
    bool catalogueOverview = false;  // position 5: one overview (else sorted by category)
    bool newerIcons = false;         // "OmxUseXPIcons"
    std::string language;            // "OmxLanguage"
    int trayKeyModifier = 0;         // "OmxTrayKeyModifier"
    int trayKeyVirtualKey = 0;       // "OmxTrayKeyVK"

    // The five characters of "OmxSettings" for the values now held.
    std::string settingsText() const;
    // Takes the values of a stored "OmxSettings" text: one of four characters or fewer is passed
    // over; otherwise each position present sets its value when it is '1' and clears it else.
    void applySettingsText(const std::string& text);
};

// The management program's view options and shown columns.
class COmxMNGSettings : public COmxBaseSettings {
  public:
    enum Option {
        kTreeView = 0,         // "High-tech" tree (else "Classic" drives list)
        kLargeSymbols,         // large symbols in the drive view
        kAnimation,            // animation when inserting or ejecting
        kProductSymbolsOnly,   // only product symbols in the image view
        kDoubleClickInserts,   // else the double click opens the properties
        kHideMissingImages,    // images whose files are missing are not shown
        kOneCategoryPerImage,  // an image stands in one category folder only
        kOptionCount
    };

    explicit COmxMNGSettings(SettingsStorage storage = systemSettingsStorage());
    int save() override;

    std::array<bool, kOptionCount> options{true, false, true, false, false, false, false};
    std::string rowOrder;  // "OmxMngROWOrder": two digits per shown column, at most 40 bytes

    // The seven characters of "OmxMngSettings".
    std::string optionsText() const;
    // Takes a stored "OmxMngSettings" text: one of six characters or fewer is passed over;
    // otherwise each of the seven positions present is set by any character but '0'.
    void applyOptionsText(const std::string& text);
};

}  // namespace ombrix::tools
