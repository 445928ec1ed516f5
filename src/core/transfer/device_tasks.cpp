#include "transfer/device_tasks.h"

#include "device/zelmar_arch.h"
#include "device/zelmar_hrd.h"
#include "frame/format.h"
#include "frame/text_utils.h"
#include "frame/ui_call.h"
#include "transfer/main_window_view.h"
#include "transfer/transfer_control.h"

std::atomic<bool> deviceInitialised{false};

namespace {

// Runs f with the main window on the UI thread; nothing while there is no main window.
template <class F>
void WithMainWindow(F&& f) {
    CallInUiThread(
        [&] {
            if (MainWindowView* v = GetMainWindow()) f(*v);
        },
        MY_HERE);
}

std::string Number(double v) { return FloatToStr(v, SystemDecimalSeparator()); }

}  // namespace

InitializeDevice::InitializeDevice() : SingleAction("Инициализация.") {
    // The archives must exist before the worker uses them; they are made here, on the UI thread.
    Zelmar::GetMinuteArch();
    Zelmar::GetHourArch();
}

void InitializeDevice::Run() { RunSteps(); }

void InitializeDevice::RunSteps() {
    TransferControl& control = GetTransferControl();
    control.ShowWait("........................................", false);

    control.ShowWait("Корректировка даты и времени...", false);
    Zelmar::SetDeviceClock();
    WithMainWindow([](MainWindowView& v) { v.SetStatusFontColor(3, clNavy); });

    control.ShowWait("Запрос контекста...", false);
    Zelmar::CellContexts cells;
    Zelmar::ReadContext(cells);
    WithMainWindow([&](MainWindowView& v) {
        v.ClearContextCells();
        for (int c = 0; c < 4; ++c) {
            const Zelmar::CellContext& x = cells[static_cast<size_t>(c)];
            v.SetContextCell(c + 1, 1, Zelmar::CellTypeName(x.type));
            if (x.calibrated != 0) v.SetContextCell(c + 1, 2, DateTimeText(x.calibrated));
            v.SetContextCell(c + 1, 3, Number(x.pgs0));
            v.SetContextCell(c + 1, 4, Number(x.pgs3));
            v.SetContextCell(c + 1, 5, Number(x.threshold1));
            v.SetContextCell(c + 1, 6, Number(x.threshold2));
        }
    });

    control.ShowWait("Поиск дескрипторов архива...", false);
    uint32_t hourAddr = 0, minuteAddr = 0;
    Zelmar::FindBufferDescriptors(hourAddr, minuteAddr);

    control.ShowWait("Инициализация архива часовой истории...", false);
    Zelmar::GetHourArch().Initialize(hourAddr);

    control.ShowWait("Инициализация архива минутной истории...", false);
    Zelmar::GetMinuteArch().Initialize(minuteAddr);

    deviceInitialised = true;
}

ReadArchiveTask::ReadArchiveTask(bool isHour, TDateTime from, TDateTime to)
    : SingleAction(Format("Cчитывание %s истории %s", isHour ? "часовой" : "минутной",
                          Zelmar::FormatArchRange(from, to).c_str())),
      from_(from),
      to_(to),
      isHour_(isHour) {
    Zelmar::GetMinuteArch();
    Zelmar::GetHourArch();
}

void ReadArchiveTask::Run() {
    if (!deviceInitialised) InitializeDevice::RunSteps();
    Zelmar::ArchiveImpl& arch = isHour_ ? static_cast<Zelmar::ArchiveImpl&>(Zelmar::GetHourArch())
                                        : static_cast<Zelmar::ArchiveImpl&>(Zelmar::GetMinuteArch());
    const auto r = arch.ReadRange(from_, to_);
    const ArchReadResult result{from_, to_, r.first, r.second};
    WithMainWindow([&](MainWindowView& v) {
        if (isHour_)
            v.ShowHourArchive(result);
        else
            v.ShowMinuteArchive(result);
    });
}

FromIndex2IndexTemplate::FromIndex2IndexTemplate(uint32_t first, uint32_t last, Callback callback,
                                                 void* data)
    : SingleAction("Считывание архива"), first_(first), last_(last), callback_(callback), data_(data) {}

void FromIndex2IndexTemplate::Run() {
    TransferControl& control = GetTransferControl();
    control.ShowWait(Format("Считывание архива в диапазоне %u...%u", first_, last_), true);
    control.SetProgress(0, static_cast<int>(last_ - first_), 0);
    for (uint64_t i = first_; i <= last_; ++i) {
        if (control.ShouldStop()) break;
        callback_(data_, static_cast<uint32_t>(i));
        control.SetProgress(-2, -1, -1);
    }
}
