#include "device/zelmar_utils.h"

#include "frame/format.h"
#include "frame/my_exception.h"
#include "frame/text_utils.h"

namespace Zelmar {

namespace {
const char* const kEvtNames[Evt::Bit::count] = {
    "включение питания",
    "сработал WatchDog",
    "перепрограммирование",
    "зарезервировано",
    "низкое напряжение аккумулятора",
    "заряд аккумулятора",
    "выключение питания",
    "зарезервировано",
};
}  // namespace

std::string EvtBitName(unsigned n) { return n < Evt::Bit::count ? kEvtNames[n] : std::string(); }

bool HasEvtBit(const ArchItem& item, unsigned n) {
    MY_CHECK_TEXT(n < Evt::Bit::count, "n<Zelmar::Evt::Bit::count");
    return (item.evt >> n) & 1u;
}

std::string EvtText(const ArchItem& item) {
    std::string out;
    for (unsigned n = 0; n < Evt::Bit::count; ++n)
        if (HasEvtBit(item, n)) out += EvtBitName(n) + " ";
    return out;
}

std::string ItemHeaderText(const ArchItem& item) {
    return Format("[%d], %s", item.idx,
                  item.isErased ? "FF" : DateTimeText(item.dateTime).c_str());
}

std::string HourItemText(const ArchItem& item) { return "Час" + ItemHeaderText(item); }

std::string MinuteItemText(const ArchItem& item) {
    std::string s = "Мин." + ItemHeaderText(item);
    if (!item.isErased) {
        s += " T=" + FloatToStr(item.t) + "\"С P=" + FloatToStr(item.pressure) +
             " C1=" + FloatToStr(item.c[0]) + " C2=" + FloatToStr(item.c[1]) +
             " C3=" + FloatToStr(item.c[2]) + " C4=" + FloatToStr(item.c[3]) + " ";
        s += EvtText(item);
    }
    return s;
}

}  // namespace Zelmar
