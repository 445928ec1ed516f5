#include "transfer/ctrl_sys.h"

#include <atomic>

#include "frame/console.h"
#include "frame/error_report.h"
#include "frame/ini_file.h"
#include "frame/my_exception.h"
#include "frame/ui_call.h"
#include "link/master_slave_io.h"
#include "link/rs232_port.h"
#include "link/zelmar_adpt.h"
#include "transfer/device_tasks.h"
#include "transfer/main_window_view.h"
#include "transfer/transfer_manager.h"

namespace {

const char* const kPortSection = "COMPORT";
const char* const kLinkSection = "Установки МАСТЕР-СЛЭЙВ";
const char* const kMainSection = "MAIN";
const char* const kShowFlashKey = "показывать флэш";

std::atomic<CtrlSysImpl*> g_ctrlSys{nullptr};

}  // namespace

struct CtrlSysImpl::Impl {
    TransferManagerT& manager;
    IniFile& ini;
    my::RS232::Port port;
    MasterSlaveIOSettings linkSettings;
    MasterSlaveIOImpl link;
    ZelmarAdpt adapter;
    TransferManagerT::Connection managerToken;
    std::atomic<bool> showFlash{false};
    // Whether the main window shows the link as established: the texts change only when this
    // does, not at every answer.
    std::atomic<bool> shownConnected{false};

    Impl() : manager(GetTransferManager()), ini(ConfigIni()), link(linkSettings), adapter(link) {
        managerToken = manager.Subscribe([this](uint32_t code, const std::string&) {
            if (code == TransferManagerT::NtfPollStop) port.Close();
        });
        static std::atomic<bool> wasCalledOnce{false};
        MY_CHECK_TEXT(!wasCalledOnce.exchange(true), "!wasCalledOnce");
        port.LoadSettings(ini, kPortSection);
        port.ApplySettings(port.Settings());
        port.SetEventHandler([this](int event, MyPort& p, const uint8_t*, size_t) { OnPortEvent(event, p); });
        LoadMasterSlaveIOSettings(linkSettings, ini, kLinkSection);
        {
            TemporaryStopTransferManager pause(manager);
            link.SetPort(&port);
        }
        link.SetNoAnswerHandler([] {});
        showFlash = ini.ReadBool(kMainSection, kShowFlashKey, false);
    }

    void OnPortEvent(int event, MyPort& p) {
        if (event == MyPort::EvRead) {
            // Every answer raises this; only the first after an open changes what is shown.
            if (shownConnected.load() || !GetMainWindow()) return;
            const std::string description = p.Description();
            CallInUiThread(
                [&] {
                    MainWindowView* v = GetMainWindow();
                    if (!v || shownConnected) return;
                    v->SetConnectionText("Связь установлена", clNavy);
                    v->SetStatusText(2, "Связь установлена " + description);
                    shownConnected = true;
                },
                MY_HERE);
        } else if (event == MyPort::EvClosed) {
            CallInUiThread(
                [&] {
                    shownConnected = false;
                    MainWindowView* v = GetMainWindow();
                    if (!v) return;
                    v->SetStatusText(2, "");
                    v->SetConnectionText("", clNavy);
                },
                MY_HERE);
        }
    }

    void SaveSettings() {
        port.SaveSettings(ini, kPortSection);
        SaveMasterSlaveIOSettings(linkSettings, ini, kLinkSection);
        ini.WriteBool(kMainSection, kShowFlashKey, showFlash.load());
    }

    ~Impl() {
        myIO::AutoQuote trace("CtrlSysImpl::Impl::~Impl");
        // A destructor must not throw: a failure to stop or to write is reported instead.
        try {
            manager.Stop();
            SaveSettings();
        } catch (...) {
            ReportCurrentException(MY_HERE, true);
        }
        managerToken.reset();
        port.SetEventHandler(nullptr);
    }
};

CtrlSysImpl::CtrlSysImpl() : impl_(std::make_shared<Impl>()) {
    Zelmar::SetDeviceLink(this);
}

CtrlSysImpl::~CtrlSysImpl() {
    Zelmar::SetDeviceLink(nullptr);
    impl_.reset();
}

void CtrlSysImpl::Connect() {
    TemporaryStopTransferManager pause(impl_->manager);
    impl_->manager.Tasks().RemoveIf([](const TransferPtr& t) {
        return dynamic_cast<InitializeDevice*>(t.get()) != nullptr;
    });
    impl_->manager.AddTransfer(std::make_shared<InitializeDevice>(), false);
}

my::RS232::Port& CtrlSysImpl::Port() { return impl_->port; }
MasterSlaveIOSettings& CtrlSysImpl::LinkSettings() { return impl_->linkSettings; }
bool CtrlSysImpl::ShowFlash() const { return impl_->showFlash.load(); }
void CtrlSysImpl::SetShowFlash(bool show) { impl_->showFlash = show; }
ZelmarAdpt& CtrlSysImpl::Adapter() { return impl_->adapter; }

CtrlSysImpl& GetCtrlSys() {
    CtrlSysImpl* c = g_ctrlSys.load();
    if (!c) {
        c = new CtrlSysImpl;
        g_ctrlSys.store(c);
    }
    return *c;
}

bool CtrlSysExists() { return g_ctrlSys.load() != nullptr; }

void DestroyCtrlSys() { delete g_ctrlSys.exchange(nullptr); }
