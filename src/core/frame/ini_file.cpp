#include "frame/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "frame/format.h"
#include "frame/my_exception.h"
#include "frame/text_utils.h"

namespace {

const std::string kUtf8Bom = "\xEF\xBB\xBF";

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

// "[name]" → name; false for any other line.
bool SectionName(const std::string& line, std::string& name) {
    std::string t = Trim(line);
    if (t.empty() || t[0] != '[') return false;
    size_t close = t.find(']');
    if (close == std::string::npos) return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

// "key=value" → key, value (both trimmed; surrounding quotes of the value dropped as the
// platform does); false for lines without "=" and comments.
bool KeyValue(const std::string& line, std::string& key, std::string& value) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';') return false;
    size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return true;
}

bool ParseInt64(const std::string& text, int64_t& out) {
    std::string s = Trim(text);
    if (s.empty()) return false;
    int base = 10;
    std::string digits = s;
    bool neg = false;
    if (digits[0] == '-' || digits[0] == '+') {
        neg = digits[0] == '-';
        digits = digits.substr(1);
    }
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits = digits.substr(2);
    }
    if (digits.empty()) return false;
    int64_t v = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        v = v * base + d;
        if (v > 0xFFFFFFFFLL) return false;
    }
    out = neg ? -v : v;
    return true;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

void IniFile::Refresh() const {
    struct stat st {};
    Stamp now;
    if (::stat(path_.c_str(), &st) == 0) {
        now.exists = true;
        now.ino = st.st_ino;
        now.size = st.st_size;
        now.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    if (loaded_ && now == stamp_) return;
    lines_.clear();
    bom_ = false;
    if (now.exists) {
        std::ifstream in(path_, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines_.push_back(line);
        }
    }
    // Windows editors put a byte order mark before the first section; it is not part of the
    // first line's text, and it is written back as it was found.
    if (!lines_.empty() && lines_[0].rfind(kUtf8Bom, 0) == 0) {
        lines_[0].erase(0, kUtf8Bom.size());
        bom_ = true;
    }
    stamp_ = now;
    loaded_ = true;
}

void IniFile::Store() {
    std::string text = bom_ ? kUtf8Bom : std::string();
    for (const std::string& l : lines_) {
        text += l;
        text += '\n';
    }
    // A linked ini file stays linked: the file it points at is the one replaced. Its mode stays.
    std::string target = path_;
    if (char* real = ::realpath(path_.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
    const size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash);
    std::random_device rd;
    const std::string tmp = Format("%s.%d.%08x.tmp", target.c_str(), static_cast<int>(getpid()), rd());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        Raise<MyWindowsException>(MY_HERE, Format("Ошибка записи файла настроек %s", path_.c_str()));
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            Raise<MyWindowsException>(MY_HERE, static_cast<uint32_t>(err),
                                      Format("Ошибка записи файла настроек %s", path_.c_str()));
        }
        done += static_cast<size_t>(n);
    }
    // The data must be on disk before the rename makes it the file.
    ::fchmod(fd, mode);  // the umask must not narrow it
    ::fsync(fd);
    ::close(fd);
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        Raise<MyWindowsException>(MY_HERE, static_cast<uint32_t>(err),
                                  Format("Ошибка записи файла настроек %s", path_.c_str()));
    }
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    loaded_ = false;  // the next read takes the new stamp
    Refresh();
}

int IniFile::FindSection(const std::string& section) const {
    std::string name;
    for (size_t i = 0; i < lines_.size(); ++i)
        if (SectionName(lines_[i], name) && SameTextCI(name, section)) return static_cast<int>(i);
    return -1;
}

int IniFile::FindKey(int sectionLine, const std::string& key, std::string* value) const {
    std::string name, k, v;
    for (size_t i = static_cast<size_t>(sectionLine) + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i], name)) break;
        if (KeyValue(lines_[i], k, v) && SameTextCI(k, key)) {
            if (value) *value = v;
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Refresh();
    int s = FindSection(section);
    if (s < 0) return def;
    std::string v;
    if (FindKey(s, key, &v) < 0) return def;
    return v;
}

int32_t IniFile::ReadInteger(const std::string& section, const std::string& key,
                             int32_t def) const {
    int64_t v;
    if (!ParseInt64(ReadString(section, key, ""), v)) return def;
    if (v < INT32_MIN) return def;
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

uint32_t IniFile::ReadUInt32(const std::string& section, const std::string& key,
                             uint32_t def) const {
    int64_t v;
    if (!ParseInt64(ReadString(section, key, ""), v)) return def;
    if (v < INT32_MIN) return def;
    return static_cast<uint32_t>(v);
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Start from what is on disk now, so another copy's writes are not undone.
    loaded_ = false;
    Refresh();
    // A line break inside a name or value would smuggle extra lines into the file.
    auto oneLine = [](std::string t) {
        for (char& c : t)
            if (c == '\n' || c == '\r') c = ' ';
        return t;
    };
    const std::string line = oneLine(key) + "=" + oneLine(value);
    int s = FindSection(section);
    if (s < 0) {
        if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back("");
        lines_.push_back("[" + oneLine(section) + "]");
        lines_.push_back(line);
    } else {
        int k = FindKey(s, key, nullptr);
        if (k >= 0) {
            lines_[static_cast<size_t>(k)] = line;
        } else {
            // After the section's last non-blank line.
            size_t end = static_cast<size_t>(s) + 1;
            std::string name;
            while (end < lines_.size() && !SectionName(lines_[end], name)) ++end;
            size_t at = end;
            while (at > static_cast<size_t>(s) + 1 && Trim(lines_[at - 1]).empty()) --at;
            lines_.insert(lines_.begin() + static_cast<long>(at), line);
        }
    }
    Store();
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

bool IniFile::SectionExists(const std::string& section) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Refresh();
    return FindSection(section) >= 0;
}

bool IniFile::ValueExists(const std::string& section, const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Refresh();
    int s = FindSection(section);
    return s >= 0 && FindKey(s, key, nullptr) >= 0;
}

std::vector<std::string> IniFile::ReadSection(const std::string& section) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Refresh();
    std::vector<std::string> keys;
    int s = FindSection(section);
    if (s < 0) return keys;
    std::string name, k, v;
    for (size_t i = static_cast<size_t>(s) + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i], name)) break;
        if (KeyValue(lines_[i], k, v)) keys.push_back(k);
    }
    return keys;
}

std::vector<std::string> IniFile::ReadSections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Refresh();
    std::vector<std::string> out;
    std::string name;
    for (const std::string& l : lines_)
        if (SectionName(l, name)) out.push_back(name);
    return out;
}

void IniFile::DeleteKey(const std::string& section, const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    loaded_ = false;
    Refresh();
    int s = FindSection(section);
    if (s < 0) return;
    int k = FindKey(s, key, nullptr);
    if (k < 0) return;
    lines_.erase(lines_.begin() + k);
    Store();
}

void IniFile::EraseSection(const std::string& section) {
    std::lock_guard<std::mutex> lock(mutex_);
    loaded_ = false;
    Refresh();
    int s = FindSection(section);
    if (s < 0) return;
    size_t end = static_cast<size_t>(s) + 1;
    std::string name;
    while (end < lines_.size() && !SectionName(lines_[end], name)) ++end;
    lines_.erase(lines_.begin() + s, lines_.begin() + static_cast<long>(end));
    Store();
}

std::string ExeFolder() {
    if (const char* home = std::getenv("ZELMAR_HOME"); home && *home) {
        std::string h = home;
        if (h.back() != '/') h += '/';
        return h;
    }
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    std::string exe(buf, static_cast<size_t>(n));
    return exe.substr(0, exe.find_last_of('/') + 1);
}

IniFile& Form1Ini() {
    static IniFile ini(ExeFolder() + "form1.ini");
    return ini;
}

IniFile& GraphIni() {
    static IniFile ini(ExeFolder() + "graph.ini");
    return ini;
}

IniFile& ConfigIni() {
    static IniFile ini(ExeFolder() + "config.ini");
    return ini;
}

void WritePlacementKeys(const WindowPlacement& wp, IniFile& ini, const std::string& section) {
    ini.WriteInteger(section, "length", wp.length);
    ini.WriteInteger(section, "flags", wp.flags);
    ini.WriteInteger(section, "showCmd", wp.showCmd);
    ini.WriteInteger(section, "ptMinPosition.x", wp.ptMinPosition.x);
    ini.WriteInteger(section, "ptMinPosition.y", wp.ptMinPosition.y);
    ini.WriteInteger(section, "ptMaxPosition.x", wp.ptMaxPosition.x);
    ini.WriteInteger(section, "ptMaxPosition.y", wp.ptMaxPosition.y);
    ini.WriteInteger(section, "rcNormalPosition.left", wp.rcNormalPosition.left);
    ini.WriteInteger(section, "rcNormalPosition.top", wp.rcNormalPosition.top);
    ini.WriteInteger(section, "rcNormalPosition.right", wp.rcNormalPosition.right);
    ini.WriteInteger(section, "rcNormalPosition.bottom", wp.rcNormalPosition.bottom);
}

WindowPlacement ReadPlacementKeys(WindowPlacement wp, const IniFile& ini,
                                  const std::string& section) {
    wp.length = ini.ReadInteger(section, "length", wp.length);
    wp.flags = ini.ReadInteger(section, "flags", wp.flags);
    wp.showCmd = ini.ReadInteger(section, "showCmd", wp.showCmd);
    wp.ptMinPosition.x = ini.ReadInteger(section, "ptMinPosition.x", wp.ptMinPosition.x);
    wp.ptMinPosition.y = ini.ReadInteger(section, "ptMinPosition.y", wp.ptMinPosition.y);
    wp.ptMaxPosition.x = ini.ReadInteger(section, "ptMaxPosition.x", wp.ptMaxPosition.x);
    wp.ptMaxPosition.y = ini.ReadInteger(section, "ptMaxPosition.y", wp.ptMaxPosition.y);
    wp.rcNormalPosition.left =
        ini.ReadInteger(section, "rcNormalPosition.left", wp.rcNormalPosition.left);
    wp.rcNormalPosition.top =
        ini.ReadInteger(section, "rcNormalPosition.top", wp.rcNormalPosition.top);
    wp.rcNormalPosition.right =
        ini.ReadInteger(section, "rcNormalPosition.right", wp.rcNormalPosition.right);
    wp.rcNormalPosition.bottom =
        ini.ReadInteger(section, "rcNormalPosition.bottom", wp.rcNormalPosition.bottom);
    return wp;
}

void SaveWindowPlacement(const PlacementTarget& window, IniFile& ini, const std::string& section) {
    WritePlacementKeys(window.GetPlacement(), ini, section);
}

void LoadWindowPlacement(PlacementTarget& window, const IniFile& ini, const std::string& section) {
    window.SetPlacement(ReadPlacementKeys(window.GetPlacement(), ini, section));
}

void SaveConsolePlacement(const PlacementTarget& console, IniFile& ini,
                          const std::string& section) {
    WritePlacementKeys(console.GetPlacement(), ini, section);
}

bool IsConsoleShowState(int32_t showCmd) {
    return showCmd == SW_SHOWNORMAL || showCmd == SW_SHOWMAXIMIZED ||
           showCmd == SW_SHOWNOACTIVATE || showCmd == SW_SHOW;
}

bool LoadConsolePlacement(PlacementTarget& console, const IniFile& ini,
                          const std::string& section) {
    WindowPlacement zero;
    zero.length = 0;
    WindowPlacement wp = ReadPlacementKeys(zero, ini, section);
    console.SetPlacement(wp);
    const bool shown = IsConsoleShowState(wp.showCmd);
    if (!shown) console.Hide();
    return shown;
}

bool TryReadBoundedInt(const IniFile& ini, const std::string& section, const std::string& key,
                       int32_t valMin, int32_t valMax, int32_t& value) {
    MY_CHECK_TEXT(valMin <= valMax, "valMin<=valMax");
    const std::string text = ini.ReadString(section, key, "");
    if (!TryStrToIntBase(text, 10, value)) return false;
    return valMin <= value && value <= valMax;
}

int32_t ReadBoundedInt(const IniFile& ini, const std::string& section, const std::string& key,
                       int32_t valMin, int32_t valMax, int32_t defVal) {
    MY_CHECK_TEXT(valMin <= valMax && defVal <= valMax && valMin <= defVal,
                  "valMin<=valMax && defVal<=valMax && valMin<=defVal");
    int32_t v = 0;
    return TryReadBoundedInt(ini, section, key, valMin, valMax, v) ? v : defVal;
}
