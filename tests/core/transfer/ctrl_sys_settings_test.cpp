// The control system reads its settings at construction and writes them back, in their
// orders, at destruction (a program of its own: one control system per process).
#include <gtest/gtest.h>

#include "frame/ini_file.h"
#include "frame/ui_call.h"
#include "link/master_slave_io.h"
#include "link/rs232_port.h"
#include "support/test_support.h"
#include "transfer/ctrl_sys.h"
#include "transfer/transfer_manager.h"

namespace {

TEST(CtrlSysSettings, ReadAtConstructionAndWrittenBackInTheirOrders) {
    ModuleImpl::Create();
    test::ScopedHome home("ctrl-settings");
    const std::string path = home.Dir() + "/config.ini";
    test::WriteFile(path,
                    "[Установки МАСТЕР-СЛЭЙВ]\n"
                    "лагать=1\n"
                    "Задержка_записи_мсек=7\n"
                    "[MAIN]\n"
                    "показывать флэш=1\n"
                    "[COMPORT]\n"
                    "BaudRate=19200\n");
    CtrlSysImpl& ctrl = GetCtrlSys();
    EXPECT_EQ(ctrl.LinkSettings().writeDelayMs, 7);
    EXPECT_TRUE(ctrl.LinkSettings().showPackets);
    EXPECT_EQ(ctrl.LinkSettings().answerTimeoutMs, 1000);
    EXPECT_TRUE(ctrl.ShowFlash());
    EXPECT_EQ(ctrl.Port().Settings().dcb.BaudRate, 19200u);
    EXPECT_EQ(ctrl.Port().Description(), "COM1 19200");
    ctrl.LinkSettings().retryCount = 2;
    ctrl.SetShowFlash(false);

    // Stored fresh, so the written order is what the file shows.
    test::WriteFile(path, "");
    DestroyCtrlSys();
    DestroyTransferManager();
    const std::string text = test::ReadFile(path);

    std::vector<std::string> keys;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end - pos);
        if (!line.empty()) keys.push_back(line.substr(0, line.find('=')));
        pos = end + 1;
    }
    const std::vector<std::string> expected = {
        "[COMPORT]", "BaudRate", "fBinary", "fParity", "fOutxCtsFlow", "fOutxDsrFlow",
        "fDtrControl", "fDsrSensitivity", "fTXContinueOnXoff", "fOutX", "fInX", "fErrorChar",
        "fNull", "fRtsControl", "fAbortOnError", "XonLim", "XoffLim", "ByteSize", "Parity",
        "StopBits", "XonChar", "XoffChar", "ErrorChar", "EofChar", "EvtChar",
        "ReadIntervalTimeout", "ReadTotalTimeoutMultiplier", "ReadTotalTimeoutConstant",
        "WriteTotalTimeoutMultiplier", "WriteTotalTimeoutConstant", "txdBuffSize",
        "rxdBuffSize", "Порт", "[Установки МАСТЕР-СЛЭЙВ]", "таймаут_ожидания_ответа_мсек",
        "длительность_ожидания_символа_приёма_мсек", "Задержка_записи_мсек", "лагать",
        "количество_повторов_запроса", "[MAIN]", "показывать флэш", "[Трансфер]",
        "приоритет_второго_потока"};
    EXPECT_EQ(keys, expected) << text;
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("COMPORT", "BaudRate", ""), "19200");
    EXPECT_EQ(ini.ReadString("COMPORT", "Порт", ""), "COM1");
    EXPECT_EQ(ini.ReadInteger("Установки МАСТЕР-СЛЭЙВ", "количество_повторов_запроса", 0), 2);
    EXPECT_EQ(ini.ReadString("MAIN", "показывать флэш", ""), "0");
}

}  // namespace
