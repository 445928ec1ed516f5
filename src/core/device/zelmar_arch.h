#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/arch_item.h"
#include "device/flash_map.h"
#include "frame/date_time.h"
#include "frame/signal.h"

namespace Zelmar {

// Date-time ordered records, as the consumers of a read collect them.
using ArchMapT = std::map<TDateTime, ArchItem>;

// One circular archive of the instrument: the valid span of its ring, a cache of one entry
// per slot (no record is read twice), the date-time search, the range read, and a signal that
// hands every record read from the instrument to the UI thread.
class ArchiveImpl {
public:
    using NotifyGetArchItemSignalT = my::VCLSignal::Signal<void(const ArchItem&)>;
    using Connection = NotifyGetArchItemSignalT::AutoPtr;

    ArchiveImpl() = default;
    ArchiveImpl(const ArchiveImpl&) = delete;
    ArchiveImpl& operator=(const ArchiveImpl&) = delete;
    virtual ~ArchiveImpl() = default;

    virtual std::string Name() const = 0;
    // (idx + delta) modulo Count(), for negative deltas too.
    virtual uint32_t Step(uint32_t idx, int32_t delta) const = 0;
    virtual uint32_t Count() const = 0;
    virtual uint32_t AddrToIdx(uint32_t addr) const = 0;
    virtual uint32_t IdxToAddr(uint32_t idx) const = 0;
    virtual bool IsAddrInside(uint32_t addr) const = 0;
    virtual void ReadItem(uint32_t addr, ArchItem& item) = 0;

    // addr: this archive's address from the buffer descriptor.
    void Initialize(uint32_t addr);
    void Reset();
    void FindBounds(uint32_t addr);

    const ArchItem& Item(uint32_t idx) const { return arch_.at(idx); }
    ArchItem& Fetch(uint32_t idx);
    void Reload(uint32_t idx);

    // A slot of [lo, hi] whose date-time lies in [tFrom, tTo] (to the minute), or the lower
    // slot of the pair around it; -1 only when a stop was requested.
    int32_t FindIndex(uint32_t lo, uint32_t hi, TDateTime tFrom, TDateTime tTo);
    // Reads the records of [tFrom, tTo]: the pair (first, last) of slots, or (-1, -1).
    std::pair<int32_t, int32_t> ReadRange(TDateTime tFrom, TDateTime tTo);

    uint32_t IdxEnd() const { return idxEnd_; }
    uint32_t Idx0() const { return idx0_; }
    bool IsInitialized() const { return !arch_.empty(); }

    Connection ConnectNotify(std::function<void(const ArchItem&)> handler) {
        return signal_.Connect(std::move(handler));
    }
    template <class C>
    Connection ConnectNotify(C* object, void (C::*member)(const ArchItem&)) {
        return signal_.Connect(object, member);
    }

    static bool IsValidItem(const ArchItem& i) { return i.isRead && i.dateTime != 0.0; }
    static bool IsBrokenItem(const ArchItem& i) { return !i.isErased && i.dateTime == 0.0; }

protected:
    std::vector<ArchItem> arch_;
    uint32_t idxEnd_ = 0;
    uint32_t idx0_ = 0;

private:
    bool Wrapped() const { return idx0_ != 0; }
    NotifyGetArchItemSignalT signal_;
};

template <class A>
class ConcreteArchiveImpl : public ArchiveImpl {
public:
    uint32_t Step(uint32_t idx, int32_t delta) const override {
        const int64_t n = A::count;
        int64_t v = (static_cast<int64_t>(idx) + delta) % n;
        return static_cast<uint32_t>(v < 0 ? v + n : v);
    }
    uint32_t Count() const override { return A::count; }
    uint32_t AddrToIdx(uint32_t addr) const override { return (addr - A::first) / A::recSize; }
    uint32_t IdxToAddr(uint32_t idx) const override { return A::first + idx * A::recSize; }
    bool IsAddrInside(uint32_t addr) const override { return addr >= A::first && addr <= A::last; }
};

class HourArchImpl : public ConcreteArchiveImpl<Flash::HourArray> {
public:
    std::string Name() const override { return "Часовой архив"; }
    void ReadItem(uint32_t addr, ArchItem& item) override;
};

class MinuteArchImpl : public ConcreteArchiveImpl<Flash::MinuteArray> {
public:
    std::string Name() const override { return "Минутный архив"; }
    void ReadItem(uint32_t addr, ArchItem& item) override;
};

// The two process-wide archives (created on first call, never destroyed).
HourArchImpl& GetHourArch();
MinuteArchImpl& GetMinuteArch();

// t rebuilt with milliseconds zeroed at level ≥ 1, seconds ≥ 2, minutes ≥ 4, hours ≥ 8.
TDateTime TruncateDateTime(TDateTime t, int level);
// -1 when t < from, +1 when t > to, else 0; all three truncated to level first.
int CompareToRange(TDateTime t, TDateTime from, TDateTime to, int level);
// "12.03.13 10:00-14:00" on one day, else "12.03.13, 10:00-13.03.13, 09:00".
std::string FormatArchRange(TDateTime t0, TDateTime t1);

// The slots a read covered, oldest first: first…last, or across the end of the ring when the
// read of a wrapped ring began in its older part. A range not found, or one whose "from" lies
// after its "to", covers none. Only the cache is touched.
void ForEachReadSlot(const ArchiveImpl& arch, int32_t first, int32_t last, TDateTime tFrom,
                     TDateTime tTo, const std::function<void(const ArchItem&)>& fn);

}  // namespace Zelmar
