#include "wire_frames.h"

#include "frame/format.h"
#include "frame/my_exception.h"
#include "link/crc16.h"

namespace zelmar::sim {

void RequestAssembler::Feed(const uint8_t* data, size_t count,
                            std::chrono::steady_clock::time_point at) {
    // Like the instrument's receiver, forget a frame that stalled: otherwise a stray length
    // byte would swallow the next real request.
    if (!bytes_.empty() && at - bytes_.back().at > kStaleAfter) {
        skipped_ += bytes_.size();
        bytes_.clear();
    }
    for (size_t i = 0; i < count; ++i) bytes_.push_back({data[i], at});
}

void RequestAssembler::Clear() {
    bytes_.clear();
}

RequestAssembler::Result RequestAssembler::Next() {
    Result r;
    // Resynchronise on A5 A0.
    while (!bytes_.empty() &&
           (bytes_[0].value != 0xA5 || (bytes_.size() > 1 && bytes_[1].value != 0xA0))) {
        bytes_.pop_front();
        ++skipped_;
    }
    if (bytes_.size() < 3) return r;
    const size_t n = static_cast<size_t>(bytes_[2].value) + 2;
    if (n < kMinRequestSize || n > kMaxRequestSize) {
        r.outcome = Outcome::BadFrame;
        r.dropped = {bytes_[0].value, bytes_[1].value, bytes_[2].value};
        bytes_.pop_front();
        return r;
    }
    if (bytes_.size() < n) return r;
    std::vector<uint8_t> frame(n);
    for (size_t i = 0; i < n; ++i) frame[i] = bytes_[i].value;
    if (!FrameCrcOk(frame)) {
        r.outcome = Outcome::BadFrame;
        r.dropped = std::move(frame);
        bytes_.pop_front();
        return r;
    }
    r.outcome = Outcome::Frame;
    r.request.firstByteAt = bytes_[0].at;
    r.request.frame = std::move(frame);
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
    return r;
}

void SealFrame(std::vector<uint8_t>& frame) {
    MY_CHECK(frame.size() >= 4 && frame.size() <= 0xFFFF);
    const uint16_t crc = Crc16(frame.data(), static_cast<uint16_t>(frame.size() - 2));
    frame[frame.size() - 2] = static_cast<uint8_t>(crc >> 8);
    frame[frame.size() - 1] = static_cast<uint8_t>(crc);
}

bool FrameCrcOk(const std::vector<uint8_t>& frame) {
    return frame.size() >= 2 && frame.size() <= 0xFFFF &&
           Crc16(frame.data(), static_cast<uint16_t>(frame.size())) == 0;
}

std::vector<uint8_t> BuildAnswer(uint8_t number, const uint8_t* payload, size_t count) {
    MY_CHECK(count >= 1 && count <= 250);
    std::vector<uint8_t> f(count + 6);
    f[0] = 0x5A;
    f[1] = 0x50;
    f[2] = static_cast<uint8_t>(f.size() - 2);
    f[3] = number;
    for (size_t i = 0; i < count; ++i) f[4 + i] = payload[i];
    SealFrame(f);
    return f;
}

std::vector<uint8_t> BuildStatusAnswer(uint8_t number, uint8_t status) {
    return BuildAnswer(number, &status, 1);
}

std::vector<uint8_t> BuildRequest(uint8_t number, uint8_t command,
                                  const std::vector<uint8_t>& payload) {
    MY_CHECK(payload.size() + 7 <= kMaxRequestSize);
    std::vector<uint8_t> f(payload.size() + 7);
    f[0] = 0xA5;
    f[1] = 0xA0;
    f[2] = static_cast<uint8_t>(f.size() - 2);
    f[3] = number;
    f[4] = command;
    for (size_t i = 0; i < payload.size(); ++i) f[5 + i] = payload[i];
    SealFrame(f);
    return f;
}

std::vector<uint8_t> BuildReadRequest(uint8_t number, uint32_t addr, uint32_t count) {
    MY_CHECK(count >= 1 && count <= 256);
    return BuildRequest(number, kCmdReadFlash,
                        {static_cast<uint8_t>(addr >> 16), static_cast<uint8_t>(addr >> 8),
                         static_cast<uint8_t>(addr), static_cast<uint8_t>(count - 1)});
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    std::string s;
    s.reserve(bytes.size() * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) s += ' ';
        s += Format("%02X", bytes[i]);
    }
    return s;
}

}  // namespace zelmar::sim
