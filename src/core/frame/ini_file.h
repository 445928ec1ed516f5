#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// A Windows-style ini file: "[section]" lines and "key=value" lines, UTF-8 text with the exact
// Russian names. Look-up is case-insensitive like the platform's. Every write goes straight to
// the file, atomically (a temporary file renamed over the old one), so a crash during a write
// leaves either the old or the new file. Lines the reader does not understand (garbage, lines
// without "=") are kept as they are by later writes. Reads notice changes made by another copy
// of the program.
class IniFile {
public:
    explicit IniFile(std::string path);
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    const std::string& FileName() const { return path_; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // Whole-text decimal (or 0x hexadecimal) integer; anything else gives def. Values written
    // as unsigned 32-bit ("%u") read back as the same bits.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    uint32_t ReadUInt32(const std::string& section, const std::string& key, uint32_t def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;

    // Raise MyWindowsException when the file cannot be written.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int32_t value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    std::vector<std::string> ReadSection(const std::string& section) const;  // key names
    std::vector<std::string> ReadSections() const;
    void DeleteKey(const std::string& section, const std::string& key);
    void EraseSection(const std::string& section);

private:
    struct Stamp {
        bool exists = false;
        ino_t ino = 0;
        off_t size = 0;
        int64_t mtimeNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    // Re-reads the file when it changed on disk. Caller holds mutex_.
    void Refresh() const;
    void Store();
    int FindSection(const std::string& section) const;
    int FindKey(int sectionLine, const std::string& key, std::string* value) const;

    std::string path_;
    mutable std::mutex mutex_;
    mutable std::vector<std::string> lines_;
    mutable Stamp stamp_;
    mutable bool loaded_ = false;
    mutable bool bom_ = false;  // the file starts with a UTF-8 byte order mark
};

// The folder that holds the ini files and Log/: $ZELMAR_HOME when set, else the executable's
// folder. Always ends with "/".
std::string ExeFolder();

IniFile& Form1Ini();
IniFile& GraphIni();
IniFile& ConfigIni();

// The platform's window placement record, kept as eleven integer keys.
struct WindowPlacement {
    struct Point {
        int32_t x = 0, y = 0;
        bool operator==(const Point&) const = default;
    };
    struct Rect {
        int32_t left = 0, top = 0, right = 0, bottom = 0;
        bool operator==(const Rect&) const = default;
    };
    int32_t length = 44;
    int32_t flags = 0;
    int32_t showCmd = 0;
    Point ptMinPosition;
    Point ptMaxPosition;
    Rect rcNormalPosition;
    bool operator==(const WindowPlacement&) const = default;
};

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;

// A window whose placement can be read and applied; the GUI maps it onto real windows.
class PlacementTarget {
public:
    virtual ~PlacementTarget() = default;
    virtual WindowPlacement GetPlacement() const = 0;
    virtual void SetPlacement(const WindowPlacement& placement) = 0;
    virtual void Hide() = 0;
};

void WritePlacementKeys(const WindowPlacement& wp, IniFile& ini, const std::string& section);
// Each key read with the matching field of `wp` as its default.
WindowPlacement ReadPlacementKeys(WindowPlacement wp, const IniFile& ini,
                                  const std::string& section);

void SaveWindowPlacement(const PlacementTarget& window, IniFile& ini, const std::string& section);
void LoadWindowPlacement(PlacementTarget& window, const IniFile& ini, const std::string& section);
void SaveConsolePlacement(const PlacementTarget& console, IniFile& ini,
                          const std::string& section);
// Starts from an all-zero record; the console stays hidden unless the stored show state is
// SW_SHOWNORMAL, SW_SHOWMAXIMIZED, SW_SHOWNOACTIVATE or SW_SHOW. Returns whether it is shown.
bool LoadConsolePlacement(PlacementTarget& console, const IniFile& ini,
                          const std::string& section);
bool IsConsoleShowState(int32_t showCmd);

bool TryReadBoundedInt(const IniFile& ini, const std::string& section, const std::string& key,
                       int32_t valMin, int32_t valMax, int32_t& value);
int32_t ReadBoundedInt(const IniFile& ini, const std::string& section, const std::string& key,
                       int32_t valMin, int32_t valMax, int32_t defVal);
