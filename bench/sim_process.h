#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {

// The virtual instrument as its own process, so that what the tool costs is measured alone.
class SimProcess {
public:
    SimProcess(const std::string& portsDir, const std::vector<std::string>& extraArgs) {
        ::setenv("ZELMAR_PORTS_DIR", portsDir.c_str(), 1);
        std::vector<std::string> args = {ZELMAR_SIM_PATH, "--port", "COM1"};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, ZELMAR_SIM_PATH, &fa, nullptr, argv.data(), environ) != 0) {
            std::fprintf(stderr, "cannot start %s\n", ZELMAR_SIM_PATH);
            std::exit(1);
        }
        posix_spawn_file_actions_destroy(&fa);
        const std::string link = portsDir + "/COM1";
        for (int i = 0; i < 500; ++i) {
            struct stat st {};
            if (::stat(link.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::fprintf(stderr, "the simulator did not bind COM1\n");
        std::exit(1);
    }
    ~SimProcess() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }

private:
    pid_t pid_ = 0;
};

inline std::string TempDir(const char* tag) {
    std::string t = std::string("/tmp/") + tag + "-XXXXXX";
    std::vector<char> buf(t.begin(), t.end());
    buf.push_back('\0');
    return ::mkdtemp(buf.data());
}

// Wire time of n bytes at 8N1.
inline double WireMs(int bytes, int baud) { return bytes * 10.0 * 1000.0 / baud; }

}  // namespace bench
