#pragma once

#include <algorithm>

// The master's side of the line for the simulator tests: plain POSIX I/O on the port's link,
// frames built by hand with Crc16. Deliberately independent of the program's own port code.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/crc16.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

inline void Seal(Bytes& f) {
    const uint16_t crc = Crc16(f.data(), static_cast<uint16_t>(f.size() - 2));
    f[f.size() - 2] = static_cast<uint8_t>(crc >> 8);
    f[f.size() - 1] = static_cast<uint8_t>(crc);
}

inline bool CrcOk(const Bytes& f) {
    return f.size() >= 2 && Crc16(f.data(), static_cast<uint16_t>(f.size())) == 0;
}

inline Bytes MakeRequest(uint8_t number, uint8_t command, const Bytes& payload) {
    // Sized first: g++ 12 warns falsely about inserting into a short vector at -O3.
    Bytes f(payload.size() + 7, 0);
    f[0] = 0xA5;
    f[1] = 0xA0;
    f[2] = static_cast<uint8_t>(payload.size() + 5);
    f[3] = number;
    f[4] = command;
    std::copy(payload.begin(), payload.end(), f.begin() + 5);
    Seal(f);
    return f;
}

inline Bytes MakeRead(uint8_t number, uint32_t addr, uint32_t count) {
    return MakeRequest(number, 0x42,
                       {static_cast<uint8_t>(addr >> 16), static_cast<uint8_t>(addr >> 8),
                        static_cast<uint8_t>(addr), static_cast<uint8_t>(count - 1)});
}

inline Bytes MakeAnswer(uint8_t number, const Bytes& payload) {
    Bytes f(payload.size() + 6, 0);
    f[0] = 0x5A;
    f[1] = 0x50;
    f[2] = static_cast<uint8_t>(payload.size() + 4);
    f[3] = number;
    std::copy(payload.begin(), payload.end(), f.begin() + 4);
    Seal(f);
    return f;
}

struct Chunk {
    Clock::time_point at;
    Bytes bytes;
};

class PortClient {
  public:
    explicit PortClient(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ >= 0) {
            termios t{};
            ::tcgetattr(fd_, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~PortClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    PortClient(const PortClient&) = delete;
    PortClient& operator=(const PortClient&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    void Write(const Bytes& b) {
        Drain();
        sentAt_ = Clock::now();
        size_t done = 0;
        while (done < b.size()) {
            const ssize_t n = ::write(fd_, b.data() + done, b.size() - done);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }

    // Everything that arrives until the line has been quiet for `quiet` (or `total` passed),
    // chunk by chunk with arrival times.
    std::vector<Chunk> ReadChunks(
        std::chrono::milliseconds quiet = std::chrono::milliseconds(150),
        std::chrono::milliseconds total = std::chrono::milliseconds(3000)) {
        std::vector<Chunk> out;
        const Clock::time_point end = Clock::now() + total;
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            const int wait = static_cast<int>(std::min(quiet, left).count());
            if (wait <= 0 || ::poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN)) break;
            uint8_t buf[512];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            out.push_back({Clock::now(), Bytes(buf, buf + n)});
        }
        return out;
    }

    Bytes ReadAnswer(std::chrono::milliseconds quiet = std::chrono::milliseconds(150)) {
        Bytes all;
        for (const Chunk& c : ReadChunks(quiet))
            all.insert(all.end(), c.bytes.begin(), c.bytes.end());
        return all;
    }

    // Reads until `count` bytes came (or the timeout); the time of the last one.
    Bytes ReadExactly(size_t count, Clock::time_point& lastAt,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
        Bytes all;
        const Clock::time_point end = Clock::now() + timeout;
        while (all.size() < count && Clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            uint8_t buf[512];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - all.size()));
            if (n <= 0) break;
            all.insert(all.end(), buf, buf + n);
            lastAt = Clock::now();
        }
        return all;
    }

    Bytes Exchange(const Bytes& request) {
        Write(request);
        return ReadAnswer();
    }

    Clock::time_point SentAt() const { return sentAt_; }

  private:
    void Drain() {
        uint8_t buf[512];
        while (::read(fd_, buf, sizeof buf) > 0) {
        }
    }
    int fd_ = -1;
    Clock::time_point sentAt_;
};

}  // namespace simtest
