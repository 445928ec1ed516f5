#include "core/link/fake_port.h"

#include <algorithm>

#include "frame/my_exception.h"
#include "link/crc16.h"

namespace test {

void FakePort::Arrive() {
    const auto now = Clock::now();
    while (!pending_.empty() && pending_.front().at <= now) {
        arrived_.insert(arrived_.end(), pending_.front().bytes.begin(), pending_.front().bytes.end());
        pending_.pop_front();
    }
}

size_t FakePort::BytesAvailable() {
    Arrive();
    return arrived_.size();
}

void FakePort::Purge() {
    ++purges;
    Arrive();
    arrived_.clear();
    pending_.clear();
}

void FakePort::DoOpen() {
    if (failOpen_) Raise<MyException>(MY_HERE, "open refused");
    ++opens;
}

size_t FakePort::DoWrite(const uint8_t* buffer, size_t count) {
    ++writes;
    requests.emplace_back(buffer, buffer + count);
    if (responder_) {
        const auto t0 = Clock::now();
        for (Chunk& c : responder_(requests.back()))
            pending_.push_back({t0 + std::chrono::milliseconds(c.delayMs), std::move(c.bytes)});
    }
    return count;
}

size_t FakePort::DoRead(uint8_t* buffer, size_t count) {
    Arrive();
    const size_t n = std::min(count, arrived_.size());
    std::copy(arrived_.begin(), arrived_.begin() + static_cast<long>(n), buffer);
    arrived_.erase(arrived_.begin(), arrived_.begin() + static_cast<long>(n));
    return n;
}

std::vector<uint8_t> AnswerFrame(uint8_t number, const std::vector<uint8_t>& payload,
                                 uint8_t marker1) {
    std::vector<uint8_t> f(payload.size() + 4);
    f[0] = 0x5A;
    f[1] = marker1;
    f[2] = static_cast<uint8_t>(payload.size() + 4);
    f[3] = number;
    std::copy(payload.begin(), payload.end(), f.begin() + 4);
    const uint16_t crc = Crc16(f.data(), static_cast<uint16_t>(f.size()));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    return f;
}

}  // namespace test
