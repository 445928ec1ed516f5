#include "frame/log_files.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <vector>

#include "frame/console.h"
#include "frame/format.h"
#include "frame/ini_file.h"
#include "frame/my_exception.h"

extern char** environ;

namespace {

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

bool MakeDir(const std::string& path) {
    errno = 0;
    if (path.empty()) return true;
    std::string cur;
    size_t pos = 0;
    while (pos != std::string::npos) {
        size_t next = path.find('/', pos + 1);
        cur = path.substr(0, next);
        pos = next;
        if (cur.empty() || cur == "/") continue;
        if (::mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) {
            const int err = errno;
            ShowLastWindowsError("Ошибка при создании каталога.\n" + path + "\n", err);
            return false;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        ShowLastWindowsError("Ошибка при создании каталога.\n" + path + "\n", errno ? errno : ENOTDIR);
        return false;
    }
    errno = 0;
    return true;
}

bool MoveFileTo(const std::string& from, const std::string& to) {
    if (!MakeDir(FolderOf(to))) return false;
    errno = 0;
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int err = errno;
        ShowLastWindowsError("Ошибка при переименовании файла.\n" + from + "\n" + to + "\n", err);
        return false;
    }
    return true;
}

std::string FindArchiver() {
    const std::string beside = ExeFolder() + "rar";
    if (IsExecutableFile(beside)) return beside;
    const char* path = std::getenv("PATH");
    if (!path) return std::string();
    std::string p = path;
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find(':', start);
        if (end == std::string::npos) end = p.size();
        std::string dir = p.substr(start, end - start);
        if (!dir.empty()) {
            std::string cand = dir + "/rar";
            if (IsExecutableFile(cand)) return cand;
        }
        start = end + 1;
    }
    return std::string();
}

void ArchiveFileWithRar(const std::string& file, const std::string& target,
                        const std::string& archive) {
    // A bare file name lives in the current folder, not in the root.
    const std::string d = FolderOf(file).empty() ? std::string(".") : FolderOf(file);
    const std::string n = NameOf(target);
    std::string t = FolderOf(target);
    if (!t.empty()) t += "/";
    if (!MoveFileTo(file, d + "/" + n)) return;

    const std::string rar = FindArchiver();
    if (rar.empty()) return;
    std::vector<std::string> args = {"rar", "m", "-mc10t+", "-ap" + t, archive, n};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, d.c_str());
    // The archiver's chatter must not mix with what this program prints on its own stdout.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, rar.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return;  // the time-named file stays in the log folder
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

std::string LogDateFolder(TDateTime dt) {
    DateParts d = DecodeDate(dt);
    const std::string month = Format("%02d_%s", d.month, LongMonthName(d.month).c_str());
    return Format("%d/%s/%d", d.year, month.c_str(), d.day);
}

std::string LogTimeName(TDateTime dt) {
    TimeParts t = DecodeTime(dt);
    return Format("%d_%d_%d", t.hour, t.minute, t.second);
}

void DumpConsoleBuffer(const ConsoleScreenBuffer& buffer, const std::string& path) {
    MakeDir(FolderOf(path));
    FILE* f = std::fopen(path.c_str(), "we");  // "e": close-on-exec, rar must not inherit it
    if (!f) {
        ShowLastWindowsError("", errno);
        return;
    }
    for (int y = 0; y < buffer.Height(); ++y) {
        std::string row = buffer.RowText(y);
        size_t end = row.size();
        while (end > 0 && (row[end - 1] == ' ' || row[end - 1] == '\t' || row[end - 1] == '\0'))
            --end;
        if (end == 0) continue;
        row.resize(end);
        row += '\n';
        std::fwrite(row.data(), 1, row.size(), f);
    }
    std::fclose(f);
}
