#include "cli/cli_options.h"

#include <cctype>

#include "frame/format.h"
#include "frame/text_utils.h"

namespace cli {

namespace {

bool Digits(const std::string& s, size_t at, size_t n, int& v) {
    v = 0;
    if (at + n > s.size()) return false;
    for (size_t i = at; i < at + n; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
        v = v * 10 + (s[i] - '0');
    }
    return true;
}

bool ParseAddress(const std::string& text, uint32_t& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    int32_t v = 0;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (!TryStrToIntBase(text, hex ? 16 : 10, v) || v < 0) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

bool ParseDateTimeArg(const std::string& s, TDateTime& out) {
    int d, m, y, h, n;
    if (s.size() != 16 || s[2] != '.' || s[5] != '.' || s[10] != ' ' || s[13] != ':') return false;
    if (!Digits(s, 0, 2, d) || !Digits(s, 3, 2, m) || !Digits(s, 6, 4, y) || !Digits(s, 11, 2, h) ||
        !Digits(s, 14, 2, n))
        return false;
    return TryEncodeDateTime(y, m, d, h, n, 0, 0, out);
}

std::string UsageText() {
    return "Использование:\n"
           "  zelmar-cli [--port COMn] [--trace] ports\n"
           "  zelmar-cli [--port COMn] [--trace] flash ADDR COUNT\n"
           "  zelmar-cli [--port COMn] [--trace] clock\n"
           "  zelmar-cli [--port COMn] [--trace] info\n"
           "  zelmar-cli [--port COMn] [--trace] read hour|minute FROM TO\n"
           "ADDR — десятичный или 0x-шестнадцатеричный адрес флэш, COUNT — 2…32 байт;\n"
           "FROM и TO — \"дд.мм.гггг чч:мм\". Порт и связь — из config.ini.\n";
}

bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--port") {
            if (i + 1 >= args.size()) {
                error = "После --port нужно имя порта (COM1…COM19).";
                return false;
            }
            o.port = args[++i];
        } else if (a.rfind("--port=", 0) == 0) {
            o.port = a.substr(7);
        } else if (a == "--trace") {
            o.trace = true;
        } else if (a == "--help" || a == "-h") {
            o.command = Command::Help;
            return true;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            error = Format("Неизвестный ключ \"%s\".", a.c_str());
            return false;
        } else {
            rest.push_back(a);
        }
    }
    if (rest.empty()) {
        error = "Не указана команда.";
        return false;
    }
    const std::string& cmd = rest[0];
    auto expect = [&](size_t n) {
        if (rest.size() == n + 1) return true;
        error = Format("Команда \"%s\" ожидает %d аргумент(а), получено %d.", cmd.c_str(),
                       static_cast<int>(n), static_cast<int>(rest.size() - 1));
        return false;
    };
    if (cmd == "ports") {
        o.command = Command::Ports;
        return expect(0);
    }
    if (cmd == "clock") {
        o.command = Command::Clock;
        return expect(0);
    }
    if (cmd == "info") {
        o.command = Command::Info;
        return expect(0);
    }
    if (cmd == "flash") {
        o.command = Command::Flash;
        if (!expect(2)) return false;
        if (!ParseAddress(rest[1], o.addr) || o.addr >= 0x1000000) {
            error = Format("Некорректный адрес \"%s\": нужно число 0…0xFFFFFF.", rest[1].c_str());
            return false;
        }
        int32_t n = 0;
        if (!TryStrToIntBase(rest[2], 10, n) || n < 2 || n > 32) {
            error = Format("Некорректное количество байт \"%s\": нужно 2…32.", rest[2].c_str());
            return false;
        }
        o.count = n;
        return true;
    }
    if (cmd == "read") {
        o.command = Command::Read;
        if (!expect(3)) return false;
        if (rest[1] != "hour" && rest[1] != "minute") {
            error = Format("Архив \"%s\": нужно hour или minute.", rest[1].c_str());
            return false;
        }
        o.hour = rest[1] == "hour";
        if (!ParseDateTimeArg(rest[2], o.from) || !ParseDateTimeArg(rest[3], o.to)) {
            error = Format("Некорректный интервал \"%s\" - \"%s\": нужно \"дд.мм.гггг чч:мм\".",
                           rest[2].c_str(), rest[3].c_str());
            return false;
        }
        return true;
    }
    error = Format("Неизвестная команда \"%s\".", cmd.c_str());
    return false;
}

}  // namespace cli
