#pragma once

#include <atomic>
#include <cstdint>

#include "frame/date_time.h"
#include "transfer/transfer.h"

// Set when an initialisation of the instrument has completed; never cleared.
extern std::atomic<bool> deviceInitialised;

// The initialisation of a freshly connected instrument: clock, contexts (into the main
// window's context table), buffer descriptors, both archives' bounds.
class InitializeDevice : public SingleAction {
public:
    InitializeDevice();
    void Run() override;
    // The steps of Run(), also used by a read before any initialisation.
    static void RunSteps();
};

// Reads the records of one archive for a period and hands the result to the main window.
class ReadArchiveTask : public SingleAction {
public:
    ReadArchiveTask(bool isHour, TDateTime from, TDateTime to);
    void Run() override;

    bool IsHour() const { return isHour_; }
    TDateTime From() const { return from_; }
    TDateTime To() const { return to_; }

private:
    TDateTime from_;
    TDateTime to_;
    bool isHour_;
};

// Calls callback(data, i) for every index from first to last, with progress.
class FromIndex2IndexTemplate : public SingleAction {
public:
    using Callback = void (*)(void* data, uint32_t index);
    FromIndex2IndexTemplate(uint32_t first, uint32_t last, Callback callback, void* data);
    void Run() override;

private:
    uint32_t first_;
    uint32_t last_;
    Callback callback_;
    void* data_;
};
