#include "core/link/pty_pair.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/test_support.h"

namespace test {

PtyPair::PtyPair() {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    slavePath_ = name;
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
}

void PtyPair::WriteMaster(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t r = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) throw std::runtime_error("write to the pty master failed");
        done += static_cast<size_t>(r);
    }
}

std::vector<uint8_t> PtyPair::ReadMaster(size_t n, int quietMs) {
    std::vector<uint8_t> out;
    uint8_t buf[4096];
    while (out.size() < n && MasterHasData(quietMs)) {
        ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
        if (r <= 0) break;
        out.insert(out.end(), buf, buf + r);
    }
    return out;
}

size_t PtyPair::DrainMaster(int quietMs) {
    size_t total = 0;
    uint8_t buf[4096];
    while (MasterHasData(quietMs)) {
        ssize_t r = ::read(master_, buf, sizeof buf);
        if (r <= 0) break;
        total += static_cast<size_t>(r);
    }
    return total;
}

bool PtyPair::MasterHasData(int waitMs) {
    pollfd p{master_, POLLIN, 0};
    return ::poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN);
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

ScopedPortsFolder::ScopedPortsFolder() : dir_(MakeTempDir("ports")) {
    // An unprivileged child must be able to look the links up.
    ::chmod(dir_.c_str(), 0755);
    if (const char* d = std::getenv("ZELMAR_PORTS_DIR")) {
        saved_ = d;
        hadSaved_ = true;
    }
    ::setenv("ZELMAR_PORTS_DIR", dir_.c_str(), 1);
}

ScopedPortsFolder::~ScopedPortsFolder() {
    if (hadSaved_)
        ::setenv("ZELMAR_PORTS_DIR", saved_.c_str(), 1);
    else
        ::unsetenv("ZELMAR_PORTS_DIR");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void ScopedPortsFolder::Bind(const std::string& name, const std::string& target) {
    const std::string link = dir_ + "/" + name;
    ::unlink(link.c_str());
    if (::symlink(target.c_str(), link.c_str()) != 0)
        throw std::runtime_error("symlink failed: " + link);
}

bool RunUnprivileged(const std::function<std::string()>& fn, std::string& result) {
    if (::geteuid() != 0) {
        result = fn();
        return true;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        ::close(fds[0]);
        constexpr uid_t kNobody = 65534;
        const bool dropped =
            ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
        // First byte: whether the switch worked.
        std::string out = dropped ? "1" + fn() : "0";
        size_t done = 0;
        while (done < out.size()) {
            ssize_t r = ::write(fds[1], out.data() + done, out.size() - done);
            if (r <= 0) break;
            done += static_cast<size_t>(r);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[1024];
    for (ssize_t r; (r = ::read(fds[0], buf, sizeof buf)) != 0;) {
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        out.append(buf, static_cast<size_t>(r));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (out.empty() || out[0] != '1') return false;
    result = out.substr(1);
    return true;
}

}  // namespace test
