#include "command_line.h"

#include <cerrno>
#include <cstdlib>

#include "frame/format.h"

namespace zelmar::sim {

namespace {

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > max) return false;
    out = v;
    return true;
}

bool ParseRate(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(v >= 0.0 && v <= 1.0)) return false;
    out = v;
    return true;
}

bool ValidPortName(const std::string& name) {
    if (name.rfind("COM", 0) != 0) return false;
    uint64_t n = 0;
    const std::string digits = name.substr(3);
    return !digits.empty() && digits[0] != '0' &&
           digits.find_first_not_of("0123456789") == std::string::npos &&
           ParseUnsigned(digits, 19, n) && n >= 1;
}

}  // namespace

bool ParseDateTimeText(const std::string& text, TDateTime& out) {
    int d, mo, y, h, mi, s = 0, used = 0;
    const int n = std::sscanf(text.c_str(), "%2d.%2d.%4d %2d:%2d%n", &d, &mo, &y, &h, &mi, &used);
    if (n < 5) return false;
    std::string rest = text.substr(static_cast<size_t>(used));
    if (!rest.empty()) {
        int used2 = 0;
        if (std::sscanf(rest.c_str(), ":%2d%n", &s, &used2) != 1 ||
            static_cast<size_t>(used2) != rest.size())
            return false;
    }
    return TryEncodeDateTime(y, mo, d, h, mi, s, 0, out);
}

bool ParseFaultText(const std::string& text, Fault& fault, FaultMode& mode) {
    const size_t eq = text.find('='), colon = text.find(':');
    const std::string name = text.substr(0, std::min(eq, colon));
    if (!FaultFromName(name, fault)) return false;
    if (eq == std::string::npos && colon == std::string::npos) {
        mode = FaultMode::Always();
        return true;
    }
    if (eq != std::string::npos && colon != std::string::npos) return false;
    if (eq != std::string::npos) {
        double p = 0;
        if (!ParseRate(text.substr(eq + 1), p)) return false;
        mode = FaultMode::WithProbability(p);
        return true;
    }
    uint64_t n = 0;
    if (!ParseUnsigned(text.substr(colon + 1), UINT32_MAX, n) || n == 0) return false;
    mode = FaultMode::Next(static_cast<uint32_t>(n));
    return true;
}

bool ParseCommandLine(const std::vector<std::string>& args, ProgramOptions& out,
                      std::string& error) {
    ProgramOptions o;
    bool haveImage = false, haveScenario = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size()) {
                error = Format("после %s нужно значение", a.c_str());
                return false;
            }
            v = args[++i];
            return true;
        };
        auto number = [&](uint64_t max, uint64_t& n) {
            std::string v;
            if (!value(v)) return false;
            if (!ParseUnsigned(v, max, n)) {
                error = Format("%s: недопустимое число \"%s\"", a.c_str(), v.c_str());
                return false;
            }
            return true;
        };
        std::string v;
        uint64_t n = 0;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--port") {
            if (!value(v)) return false;
            if (!ValidPortName(v)) {
                error = Format("--port: имя порта должно быть COM1…COM19, а не \"%s\"", v.c_str());
                return false;
            }
            o.sim.portName = v;
        } else if (a == "--ports-dir") {
            if (!value(o.sim.portsFolder)) return false;
        } else if (a == "--image") {
            if (!value(o.imagePath)) return false;
            haveImage = true;
        } else if (a == "--scenario") {
            if (!value(v)) return false;
            Scenario probe;
            if (!ScenarioByName(v, EncodeDateTime(2020, 1, 1, 0, 0), probe)) {
                std::string names;
                for (const std::string& s : ScenarioNames())
                    names += (names.empty() ? "" : ", ") + s;
                error = Format("--scenario: неизвестный сценарий \"%s\" (есть: %s)", v.c_str(),
                               names.c_str());
                return false;
            }
            o.scenario = v;
            haveScenario = true;
        } else if (a == "--end") {
            if (!value(v)) return false;
            if (!ParseDateTimeText(v, o.end)) {
                error = Format("--end: ожидается \"дд.мм.гггг чч:мм\", а не \"%s\"", v.c_str());
                return false;
            }
            const int year = DecodeDate(o.end).year;
            if (year < 2005 || year > 2099) {
                error = Format("--end: год %d вне 2005…2099", year);
                return false;
            }
        } else if (a == "--save-image") {
            if (!value(o.saveImage)) return false;
        } else if (a == "--no-serve") {
            o.noServe = true;
        } else if (a == "--baud") {
            if (!number(4000000, n)) return false;
            o.sim.baud = static_cast<uint32_t>(n);
        } else if (a == "--latency") {
            if (!number(600000, n)) return false;
            o.sim.latencyMs = static_cast<uint32_t>(n);
        } else if (a == "--split-gap") {
            if (!number(600000, n)) return false;
            o.sim.splitGapMs = static_cast<uint32_t>(n);
        } else if (a == "--truncate") {
            if (!number(64, n)) return false;
            o.sim.truncateBytes = static_cast<uint32_t>(n);
        } else if (a == "--garbage") {
            if (!number(64, n)) return false;
            o.sim.garbageBytes = static_cast<uint32_t>(n);
        } else if (a == "--seed") {
            if (!number(UINT64_MAX, n)) return false;
            o.sim.seed = n;
        } else if (a == "--fault") {
            if (!value(v)) return false;
            Fault f;
            FaultMode m;
            if (!ParseFaultText(v, f, m)) {
                error = Format(
                    "--fault: ожидается ВИД, ВИД=ДОЛЯ (0…1) или ВИД:N, вид один из silence, crc, "
                    "truncate, split, garbage, number; а не \"%s\"",
                    v.c_str());
                return false;
            }
            o.faults.emplace_back(f, m);
        } else if (a == "--refuse-cell") {
            if (!number(4, n)) return false;
            if (n < 1) {
                error = "--refuse-cell: номер ячейки 1…4";
                return false;
            }
            o.refusals.push_back({flash::kCellContext[n - 1], 1, kStatusRefused});
        } else if (a == "--refuse") {
            if (!value(v)) return false;
            // ADDR[:LEN[:CODE]]
            RefusedRange r;
            uint64_t addr = 0, len = 1, code = kStatusRefused;
            const size_t c1 = v.find(':');
            const size_t c2 = c1 == std::string::npos ? c1 : v.find(':', c1 + 1);
            bool ok = ParseUnsigned(v.substr(0, c1), flash::kSize - 1, addr);
            if (ok && c1 != std::string::npos)
                ok = ParseUnsigned(v.substr(c1 + 1, c2 == std::string::npos ? c2 : c2 - c1 - 1),
                                   flash::kSize, len) &&
                     len >= 1;
            if (ok && c2 != std::string::npos)
                ok = ParseUnsigned(v.substr(c2 + 1), 255, code) && code >= 1;
            if (!ok) {
                error = Format("--refuse: ожидается АДРЕС[:ДЛИНА[:КОД]], а не \"%s\"", v.c_str());
                return false;
            }
            r.first = static_cast<uint32_t>(addr);
            r.count = static_cast<uint32_t>(len);
            r.code = static_cast<uint8_t>(code);
            o.refusals.push_back(r);
        } else if (a == "--live") {
            o.sim.live = true;
        } else if (a == "--verbose" || a == "-v") {
            o.sim.verbose = true;
        } else {
            error = Format("неизвестный параметр \"%s\"", a.c_str());
            return false;
        }
    }
    if (haveImage && haveScenario) {
        error = "--image и --scenario вместе не задаются";
        return false;
    }
    if (o.noServe && o.saveImage.empty()) {
        error = "--no-serve имеет смысл только с --save-image";
        return false;
    }
    out = std::move(o);
    return true;
}

std::string UsageText() {
    return "Виртуальный прибор: отвечает на порту COMn как прибор.\n"
           "Использование: zelmar-sim [параметры]\n"
           "  --port COMn            порт (COM1…COM19), по умолчанию COM1\n"
           "  --ports-dir ПАПКА      папка портов (иначе $ZELMAR_PORTS_DIR или ports/ у "
           "программы)\n"
           "  --image ФАЙЛ           образ флэш-памяти (0x380000 байт)\n"
           "  --scenario ИМЯ         сценарий: realistic (по умолчанию), empty, erased, wrapped,\n"
           "                         no-descriptor, bad-descriptor, refused-cell, broken\n"
           "  --end \"дд.мм.гггг чч:мм\" время последней минутной записи сценария (иначе сейчас)\n"
           "  --save-image ФАЙЛ      записать образ в файл\n"
           "  --no-serve             только записать образ (с --save-image) и выйти\n"
           "  --baud N               воспроизводить время передачи байтов на скорости N (0 — нет)\n"
           "  --latency МС           задержка ответа после запроса\n"
           "  --fault ВИД[=ДОЛЯ|:N]  сбой: silence, crc, truncate, split, garbage, number;\n"
           "                         всегда, с вероятностью ДОЛЯ или на N следующих запросов\n"
           "  --seed N               затравка случайных сбоев\n"
           "  --split-gap МС         пауза в разорванном ответе (50)\n"
           "  --truncate N           сколько байтов отрезать от ответа (1)\n"
           "  --garbage N            сколько лишних байтов перед ответом (3)\n"
           "  --refuse-cell N        отказывать (код ошибки) в чтении типа ячейки N (1…4)\n"
           "  --refuse АДРЕС[:ДЛИНА[:КОД]]  отказывать в чтении области флэш-памяти\n"
           "  --live                 дописывать записи архивов по часам прибора\n"
           "  --verbose              журнал запросов и ответов в stderr\n"
           "Ctrl+C или SIGTERM удаляет ссылку порта и завершает работу.\n";
}

}  // namespace zelmar::sim
