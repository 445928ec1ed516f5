#include "link/zelmar_adpt.h"

#include "frame/format.h"
#include "frame/my_exception.h"
#include "frame/text_utils.h"
#include "link/master_slave_io.h"

std::vector<uint8_t> ZelmarAdpt::BuildFrame(uint8_t number, uint8_t code,
                                            const std::vector<uint8_t>& payload) {
    // Byte 2 holds n - 2, so a frame is at most 257 bytes long.
    MY_CHECK_TEXT(payload.size() <= 250, "payload.size()<=250");
    const size_t n = payload.size() + 7;
    std::vector<uint8_t> f(n);
    f[0] = 0xA5;
    f[1] = 0xA0;
    f[2] = static_cast<uint8_t>(n - 2);
    f[3] = number;
    f[4] = code;
    std::copy(payload.begin(), payload.end(), f.begin() + 5);
    const uint16_t crc = Crc16(f.data(), static_cast<uint16_t>(n - 2));
    f[n - 2] = static_cast<uint8_t>(crc >> 8);
    f[n - 1] = static_cast<uint8_t>(crc & 0xFF);
    return f;
}

void ZelmarAdpt::CheckAnswer(const uint8_t* a, size_t n, uint8_t number) {
    if (n < 7)
        Raise<MyZelmarException>(
            MY_HERE, Format("длина ответа %s равна %d, должна быть не менее 5.",
                            BytesToHexList(a, a + n).c_str(), static_cast<int>(n)));
    if (a[0] != 0x5A || (a[1] >> 4) != 5) Raise<MyException>(MY_HERE, "несовпадение маркера 0x5A5х!");
    if (n - 2 != a[2])
        Raise<MyZelmarException>(MY_HERE, Format("несовпадение длины ответа %d!=%d",
                                                 static_cast<int>(n - 2), static_cast<int>(a[2])));
    if (a[3] != number)
        Raise<MyZelmarException>(MY_HERE, Format("несовпадение номера комманд запроса %d и ответа %d",
                                                 static_cast<int>(number), static_cast<int>(a[3])));
    if (n == 7 && a[4] != 0)
        Raise<MyZelmarException>(MY_HERE, Format("Прибор вернул код ошибки %d", static_cast<int>(a[4])));
    // A corrupted answer must never be taken as data.
    const uint16_t computed = Crc16(a, static_cast<uint16_t>(n - 2));
    const uint16_t received = static_cast<uint16_t>((a[n - 2] << 8) | a[n - 1]);
    if (computed != received)
        Raise<MyZelmarException>(MY_HERE, Format("несовпадение CRC ответа %04X!=%04X",
                                                 static_cast<unsigned>(computed),
                                                 static_cast<unsigned>(received)));
}

void ZelmarAdpt::Request(uint8_t code, const std::vector<uint8_t>& payload) {
    const uint8_t number = number_++;
    const std::vector<uint8_t> frame = BuildFrame(number, code, payload);
    link_.Transfer(frame, true);
    if (link_.IsCancelled()) return;
    CheckAnswer(link_.Rxd(), link_.RxdSize(), number);
}

const uint8_t* ZelmarAdpt::AnswerData() const {
    return link_.RxdSize() < 7 ? nullptr : link_.Rxd() + 4;
}

size_t ZelmarAdpt::AnswerSize() const { return link_.RxdSize() < 7 ? 0 : link_.RxdSize() - 6; }
