#include "device/zelmar_arch.h"

#include <cstdlib>

#include "device/zelmar_hrd.h"
#include "frame/console.h"
#include "frame/format.h"
#include "frame/my_exception.h"
#include "frame/ui_call.h"
#include "transfer/transfer_control.h"

namespace Zelmar {

void HourArchImpl::ReadItem(uint32_t addr, ArchItem& item) { ReadHourItem(addr, item); }
void MinuteArchImpl::ReadItem(uint32_t addr, ArchItem& item) { ReadMinuteItem(addr, item); }

HourArchImpl& GetHourArch() {
    static HourArchImpl* arch = new HourArchImpl;
    return *arch;
}

MinuteArchImpl& GetMinuteArch() {
    static MinuteArchImpl* arch = new MinuteArchImpl;
    return *arch;
}

void ArchiveImpl::Reset() {
    arch_.assign(Count(), ArchItem{});
    idxEnd_ = 0;
    idx0_ = 0;
}

void ArchiveImpl::Initialize(uint32_t addr) {
    Reset();
    FindBounds(addr);
    ConsolePrint(Format("idxEnd_=%d, idx0_=%d\n", static_cast<int>(idxEnd_), static_cast<int>(idx0_)));
}

void ArchiveImpl::FindBounds(uint32_t addr) {
    const uint32_t start = AddrToIdx(addr);
    ConsolePrint(Format("Поиск границ массива \"%s\":%d\n", Name().c_str(), static_cast<int>(start)));
    idxEnd_ = Step(start, -10);
    idx0_ = 0;
    for (int round = 0; round < 100; ++round) {
        const uint32_t next = Step(idxEnd_, +1);
        const ArchItem& cur = Fetch(idxEnd_);
        const ArchItem& nxt = Fetch(next);
        if (IsValidItem(cur) && !IsValidItem(nxt)) return;  // not wrapped: the newest record
        if (IsValidItem(cur) && IsValidItem(nxt) && cur.dateTime > nxt.dateTime) {
            idx0_ = next;  // the wrap point
            return;
        }
        idxEnd_ = next;
    }
    if (!IsValidItem(arch_[idxEnd_]))
        Raise<MyException>(MY_HERE, Name() + ": не обнаружен действительный элемент.");
}

ArchItem& ArchiveImpl::Fetch(uint32_t idx) {
    MY_CHECK_TEXT(idx < arch_.size(), "idx<arch_.size()");
    if (!arch_[idx].isRead) Reload(idx);
    return arch_[idx];
}

void ArchiveImpl::Reload(uint32_t idx) {
    MY_CHECK_TEXT(idx < arch_.size(), "idx<arch_.size()");
    ReadItem(IdxToAddr(idx), arch_[idx]);
    const ArchItem copy = arch_[idx];
    CallInUiThread([&] { signal_.Emit(copy); }, MY_HERE);
}

int32_t ArchiveImpl::FindIndex(uint32_t lo, uint32_t hi, TDateTime tFrom, TDateTime tTo) {
    // The search's recursion is all tail calls; a loop keeps a long run of broken records from
    // exhausting the stack.
    for (;;) {
        if (lo >= hi) return static_cast<int32_t>(lo);
        tFrom = TruncateDateTime(tFrom, 2);
        tTo = TruncateDateTime(tTo, 2);
        if (GetTransferControl().ShouldStop()) return -1;
        const ArchItem& l = Fetch(lo);
        const ArchItem& h = Fetch(hi);
        if (IsBrokenItem(l)) {
            ++lo;
            continue;
        }
        if (IsBrokenItem(h)) {
            --hi;
            continue;
        }
        if (CompareToRange(l.dateTime, tFrom, tTo, 0) == 0) return static_cast<int32_t>(lo);
        if (CompareToRange(h.dateTime, tFrom, tTo, 0) == 0) return static_cast<int32_t>(hi);
        if (lo + 1 == hi) return static_cast<int32_t>(lo);
        uint32_t mid = lo + (hi - lo) / 2;
        while (IsBrokenItem(Fetch(mid))) ++mid;
        if (mid == hi) return static_cast<int32_t>(hi);
        const int c = CompareToRange(arch_[mid].dateTime, tFrom, tTo, 0);
        if (c == 0) return static_cast<int32_t>(mid);
        if (c < 0)
            lo = mid;
        else
            hi = mid;
    }
}

std::pair<int32_t, int32_t> ArchiveImpl::ReadRange(TDateTime tFrom, TDateTime tTo) {
    TransferControl& control = GetTransferControl();
    const std::string head = Format("%s: поиск %s", Name().c_str(), FormatArchRange(tFrom, tTo).c_str());
    ConsolePrint(head + "\n");
    control.HideWait();
    control.ShowWait(head + ". Определение границ...", false);

    // A read cut short by a stop ends the search or the walk like the stop itself.
    auto stopped = [&] { return control.ShouldStop(); };
    int32_t first = -1, last = -1;
    try {
        first = FindIndex(0, idxEnd_, tFrom, tFrom);
        last = FindIndex(0, idxEnd_, tTo, tTo);
        // Once the ring has wrapped, the records older than slot 0's lie in idx0_…N-1, dated in
        // ascending order too: a bound before slot 0's record is searched there.
        if (Wrapped() && first >= 0 && last >= 0) {
            const ArchItem& s0 = Fetch(0);
            if (IsValidItem(s0)) {
                if (CompareToRange(s0.dateTime, TruncateDateTime(tFrom, 2), TruncateDateTime(tFrom, 2), 0) > 0)
                    first = FindIndex(idx0_, Count() - 1, tFrom, tFrom);
                if (CompareToRange(s0.dateTime, TruncateDateTime(tTo, 2), TruncateDateTime(tTo, 2), 0) > 0)
                    last = FindIndex(idx0_, Count() - 1, tTo, tTo);
            }
        }
    } catch (const MyExceptionPtr&) {
        if (!stopped()) throw;
        first = last = -1;
    }
    ConsolePrint(Format("%s: idx0=%d idx1=%d\n", head.c_str(), first, last));
    control.HideWait();
    if (first == -1 || last == -1) return {-1, -1};

    // A range whose "from" lies after its "to" holds no record: walking from first round the
    // whole ring to last would cost up to a request per slot for nothing.
    if (TruncateDateTime(tFrom, 2) > TruncateDateTime(tTo, 2)) return {first, last};

    const uint32_t f = static_cast<uint32_t>(first), l = static_cast<uint32_t>(last);
    const int count = static_cast<int>(f <= l ? l - f : l + Count() - f);
    control.ShowWait(Format("%s: считывание %d элементов %s...", Name().c_str(), count,
                            FormatArchRange(arch_[f].dateTime, arch_[l].dateTime).c_str()),
                     true);
    control.SetProgress(0, count, 0);
    try {
        for (uint32_t i = f; i != l && !stopped(); i = Step(i, +1)) {
            const uint32_t prev = Step(i, -1);
            Fetch(i);
            Fetch(prev);
            // A record whose date does not decode takes the date of the record before it.
            if (arch_[prev].dateTime != 0.0 && arch_[i].dateTime == 0.0)
                arch_[i].dateTime = arch_[prev].dateTime;
            control.SetProgress(-2, -1, -1);
        }
    } catch (const MyExceptionPtr&) {
        if (!stopped()) throw;
    }
    return {first, last};
}

TDateTime TruncateDateTime(TDateTime t, int level) {
    DateParts d = DecodeDate(t);
    TimeParts tm = DecodeTime(t);
    if (level >= 1) tm.msec = 0;
    if (level >= 2) tm.second = 0;
    if (level >= 4) tm.minute = 0;
    if (level >= 8) tm.hour = 0;
    TDateTime out = 0;
    if (!TryEncodeDateTime(d.year, d.month, d.day, tm.hour, tm.minute, tm.second, tm.msec, out))
        return t;
    return out;
}

int CompareToRange(TDateTime t, TDateTime from, TDateTime to, int level) {
    t = TruncateDateTime(t, level);
    from = TruncateDateTime(from, level);
    to = TruncateDateTime(to, level);
    if (t < from) return -1;
    if (t > to) return +1;
    return 0;
}

std::string FormatArchRange(TDateTime t0, TDateTime t1) {
    if (DatePart(t0) == DatePart(t1))
        return Format("%s %s-%s", FormatDateTime("dd.mm.yy", t0).c_str(),
                      FormatDateTime("hh:nn", t0).c_str(), FormatDateTime("hh:nn", t1).c_str());
    return Format("%s-%s", FormatDateTime("dd.mm.yy, hh:nn", t0).c_str(),
                  FormatDateTime("dd.mm.yy, hh:nn", t1).c_str());
}

void ForEachReadSlot(const ArchiveImpl& arch, int32_t first, int32_t last, TDateTime tFrom,
                     TDateTime tTo, const std::function<void(const ArchItem&)>& fn) {
    if (first < 0 || last < 0 || !arch.IsInitialized()) return;
    if (TruncateDateTime(tFrom, 2) > TruncateDateTime(tTo, 2)) return;
    const uint32_t n = arch.Count();
    uint32_t i = static_cast<uint32_t>(first);
    const uint32_t l = static_cast<uint32_t>(last);
    if (i >= n || l >= n) return;
    for (;;) {
        fn(arch.Item(i));
        if (i == l) break;
        i = arch.Step(i, +1);
    }
}

}  // namespace Zelmar
