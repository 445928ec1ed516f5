#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace zelmar::sim {

// The instrument's side of the frame protocol: requests "A5 A0 len num cmd payload crc crc"
// in, answers "5A 5x len num payload crc crc" out; len is the frame length less 2 and the
// CRC (high byte first) covers everything before it.

constexpr uint8_t kCmdReadFlash = 0x42;
constexpr uint8_t kCmdSetTime = 0x33;
constexpr uint8_t kCmdSetDate = 0x35;

// Status codes of the 7-byte status answer. 0 = done; the rest are this instrument's refusals.
constexpr uint8_t kStatusDone = 0;
constexpr uint8_t kStatusRefused = 1;     // default code of a refused address range
constexpr uint8_t kStatusBadRead = 2;     // flash read with a count not 2-32, or off the image
constexpr uint8_t kStatusBadValue = 3;    // clock value that is not a valid BCD time or date
constexpr uint8_t kStatusBadPayload = 4;  // payload length wrong for the command

// The shortest request carries no payload (7 bytes); no command of the instrument takes more
// than a few bytes, so a length byte beyond this is taken for noise.
constexpr size_t kMinRequestSize = 7;
constexpr size_t kMaxRequestSize = 64;

struct Request {
    std::vector<uint8_t> frame;  // the whole frame as received
    std::chrono::steady_clock::time_point firstByteAt;
    uint8_t Number() const { return frame[3]; }
    uint8_t Command() const { return frame[4]; }
    const uint8_t* Payload() const { return frame.data() + 5; }
    size_t PayloadSize() const { return frame.size() - 7; }
};

// Collects request frames from a byte stream that may hold noise: looks for A5 A0, takes the
// length byte, waits for the whole frame and checks its CRC. A frame with an impossible length
// or a bad CRC is dropped by its first byte only, so a real frame that began inside it is
// still found.
class RequestAssembler {
  public:
    // Pending bytes older than this are dropped when new bytes arrive.
    static constexpr std::chrono::milliseconds kStaleAfter{100};

    enum class Outcome { Frame, BadFrame, NeedMore };
    struct Result {
        Outcome outcome = Outcome::NeedMore;
        Request request;               // Frame
        std::vector<uint8_t> dropped;  // BadFrame: the bytes of the rejected frame
    };

    void Feed(const uint8_t* data, size_t count, std::chrono::steady_clock::time_point at);
    // The next complete frame, a rejected one, or NeedMore. Call until NeedMore.
    Result Next();
    // Bytes thrown away while looking for the start of a frame (not counting bad frames).
    uint64_t SkippedBytes() const { return skipped_; }
    size_t Pending() const { return bytes_.size(); }
    void Clear();

  private:
    struct Byte {
        uint8_t value;
        std::chrono::steady_clock::time_point at;
    };
    std::deque<Byte> bytes_;
    uint64_t skipped_ = 0;
};

// Answer frames, CRC included.
std::vector<uint8_t> BuildAnswer(uint8_t number, const uint8_t* payload, size_t count);
std::vector<uint8_t> BuildStatusAnswer(uint8_t number, uint8_t status);
// Request frames (the tests and the benchmark speak as the master with these).
std::vector<uint8_t> BuildRequest(uint8_t number, uint8_t command,
                                  const std::vector<uint8_t>& payload);
std::vector<uint8_t> BuildReadRequest(uint8_t number, uint32_t addr, uint32_t count);
// Writes the CRC of the bytes before the last two into the last two.
void SealFrame(std::vector<uint8_t>& frame);
// True when the CRC of the whole frame, its own CRC included, is 0.
bool FrameCrcOk(const std::vector<uint8_t>& frame);

// "A5 A0 09 …": upper-case hexadecimal, one blank between bytes.
std::string HexBytes(const std::vector<uint8_t>& bytes);

}  // namespace zelmar::sim
