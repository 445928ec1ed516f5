#include "frame/date_time.h"

#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <array>
#include <cctype>
#include <cmath>
#include <mutex>

#include "frame/format.h"
#include "frame/my_exception.h"

namespace {

// Days between 30.12.1899 and 01.01.1970.
constexpr int64_t kUnixEpochDay = 25569;

// Civil-date conversions of the proleptic Gregorian calendar, counted from 01.01.1970.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// Splits a date-time into its day number and the milliseconds of the day, the way the
// platform does: the integer part is the day, the absolute fraction the time.
void Split(TDateTime dt, int64_t& day, int64_t& ms) {
    if (!std::isfinite(dt)) {
        day = 0;
        ms = 0;
        return;
    }
    if (dt >= 0) {
        const int64_t total = std::llround(dt * kMSecsPerDay);
        day = total / 86400000;
        ms = total % 86400000;
    } else {
        day = static_cast<int64_t>(std::trunc(dt));
        ms = std::llround(std::fabs(dt - std::trunc(dt)) * kMSecsPerDay);
        if (ms >= 86400000) ms = 86399999;
    }
}

struct LocaleNames {
    std::array<std::string, 12> longMonth, shortMonth;
    std::array<std::string, 7> longDay, shortDay;
};

const LocaleNames& Names() {
    static const LocaleNames names = [] {
        LocaleNames n{
            {"Январь", "Февраль", "Март", "Апрель", "Май", "Июнь", "Июль", "Август",
             "Сентябрь", "Октябрь", "Ноябрь", "Декабрь"},
            {"янв", "фев", "мар", "апр", "май", "июн", "июл", "авг", "сен", "окт", "ноя", "дек"},
            {"воскресенье", "понедельник", "вторник", "среда", "четверг", "пятница",
             "суббота"},
            {"Вс", "Пн", "Вт", "Ср", "Чт", "Пт", "Сб"}};
        locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
        if (loc == static_cast<locale_t>(0)) return n;
        const char* name = nl_langinfo_l(_NL_LOCALE_NAME(LC_TIME), loc);
        std::string locName = name ? name : "";
        const bool named = !locName.empty() && locName != "C" && locName != "POSIX" &&
                           locName.rfind("C.", 0) != 0;
        if (named) {
            auto take = [&](nl_item item, std::string& into) {
                const char* s = nl_langinfo_l(item, loc);
                if (s && *s) into = s;
            };
            for (int i = 0; i < 12; ++i) {
#ifdef ALTMON_1
                // The stand-alone (nominative) form where the locale has one.
                take(static_cast<nl_item>(ALTMON_1 + i), n.longMonth[static_cast<size_t>(i)]);
#else
                take(static_cast<nl_item>(MON_1 + i), n.longMonth[static_cast<size_t>(i)]);
#endif
                take(static_cast<nl_item>(ABMON_1 + i), n.shortMonth[static_cast<size_t>(i)]);
            }
            for (int i = 0; i < 7; ++i) {
                take(static_cast<nl_item>(DAY_1 + i), n.longDay[static_cast<size_t>(i)]);
                take(static_cast<nl_item>(ABDAY_1 + i), n.shortDay[static_cast<size_t>(i)]);
            }
        }
        freelocale(loc);
        return n;
    }();
    return names;
}

}  // namespace

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

bool IsValidDate(int year, int month, int day) {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month);
}

bool IsValidTime(int hour, int minute, int second, int msec) {
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
           msec >= 0 && msec < 1000;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
    if (!IsValidDate(year, month, day)) return false;
    out = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                            static_cast<unsigned>(day)) +
                              kUnixEpochDay);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out) {
    if (!IsValidTime(hour, minute, second, msec)) return false;
    out = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMSecsPerDay;
    return true;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec,
                       TDateTime& out) {
    TDateTime d, t;
    if (!TryEncodeDate(year, month, day, d) || !TryEncodeTime(hour, minute, second, msec, t))
        return false;
    // Before day 0 the fraction counts away from zero, as the platform stores it.
    out = d >= 0 ? d + t : d - t;
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime out;
    if (!TryEncodeDate(year, month, day, out))
        Raise<MyException>(MY_HERE, Format("Недопустимая дата %02d.%02d.%04d", day, month, year));
    return out;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
    TDateTime out;
    if (!TryEncodeTime(hour, minute, second, msec, out))
        Raise<MyException>(MY_HERE, Format("Недопустимое время %02d:%02d:%02d.%03d", hour, minute,
                                           second, msec));
    return out;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int msec) {
    TDateTime d = EncodeDate(year, month, day);
    TDateTime t = EncodeTime(hour, minute, second, msec);
    return d >= 0 ? d + t : d - t;
}

DateParts DecodeDate(TDateTime dt) {
    int64_t day, ms;
    Split(dt, day, ms);
    DateParts p;
    CivilFromDays(day - kUnixEpochDay, p.year, p.month, p.day);
    return p;
}

TimeParts DecodeTime(TDateTime dt) {
    int64_t day, ms;
    Split(dt, day, ms);
    TimeParts t;
    t.hour = static_cast<int>(ms / 3600000);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.msec = static_cast<int>(ms % 1000);
    return t;
}

void DecodeDateTime(TDateTime dt, DateParts& date, TimeParts& time) {
    date = DecodeDate(dt);
    time = DecodeTime(dt);
}

TDateTime DatePart(TDateTime dt) {
    int64_t day, ms;
    Split(dt, day, ms);
    return static_cast<double>(day);
}

TDateTime TimePart(TDateTime dt) {
    int64_t day, ms;
    Split(dt, day, ms);
    return static_cast<double>(ms) / kMSecsPerDay;
}

int DayOfWeek(TDateTime dt) {
    int64_t day, ms;
    Split(dt, day, ms);
    // Day 0 (30.12.1899) was a Saturday.
    int64_t r = (day + 6) % 7;
    if (r < 0) r += 7;
    return static_cast<int>(r) + 1;
}

TDateTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    time_t secs = ts.tv_sec;
    localtime_r(&secs, &local);
    TDateTime out = 0;
    TryEncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                      static_cast<int>(ts.tv_nsec / 1000000), out);
    return out;
}

std::string LongMonthName(int month) {
    if (month < 1 || month > 12) return std::string();
    return Names().longMonth[static_cast<size_t>(month - 1)];
}

std::string ShortMonthName(int month) {
    if (month < 1 || month > 12) return std::string();
    return Names().shortMonth[static_cast<size_t>(month - 1)];
}

std::string LongDayName(int day) {
    if (day < 1 || day > 7) return std::string();
    return Names().longDay[static_cast<size_t>(day - 1)];
}

std::string ShortDayName(int day) {
    if (day < 1 || day > 7) return std::string();
    return Names().shortDay[static_cast<size_t>(day - 1)];
}

namespace {

class DateTimeFormatter {
public:
    explicit DateTimeFormatter(TDateTime dt) : dt_(dt) {
        DecodeDateTime(dt, date_, time_);
        dow_ = DayOfWeek(dt);
    }

    std::string Run(const std::string& pattern, int depth = 0) {
        std::string out;
        size_t i = 0;
        const size_t n = pattern.size();
        const bool twelveHour = HasAmPm(pattern);
        while (i < n) {
            const char c = pattern[i];
            const char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            auto run = [&](char ch) {
                size_t k = i;
                while (k < n && std::tolower(static_cast<unsigned char>(pattern[k])) == ch) ++k;
                return k - i;
            };
            if (c == '\'' || c == '"') {
                size_t end = pattern.find(c, i + 1);
                if (end == std::string::npos) end = n;
                out.append(pattern, i + 1, end - i - 1);
                i = end < n ? end + 1 : n;
                lastWasHour_ = false;
                continue;
            }
            if (lc == 'a' && Matches(pattern, i, "am/pm")) {
                out += time_.hour < 12 ? "am" : "pm";
                i += 5;
                continue;
            }
            if (lc == 'a' && Matches(pattern, i, "a/p")) {
                out += time_.hour < 12 ? "a" : "p";
                i += 3;
                continue;
            }
            switch (lc) {
                case 'd': {
                    size_t k = run('d');
                    if (k == 1) out += std::to_string(date_.day);
                    else if (k == 2) out += Format("%02d", date_.day);
                    else if (k == 3) out += ShortDayName(dow_);
                    else if (k == 4) out += LongDayName(dow_);
                    else if (depth == 0) out += Run("dd.mm.yyyy", depth + 1);
                    i += k;
                    lastWasHour_ = false;
                    break;
                }
                case 'm': {
                    size_t k = run('m');
                    if (lastWasHour_ && k <= 2) {
                        out += k == 1 ? std::to_string(time_.minute) : Format("%02d", time_.minute);
                    } else if (k == 1) {
                        out += std::to_string(date_.month);
                    } else if (k == 2) {
                        out += Format("%02d", date_.month);
                    } else if (k == 3) {
                        out += ShortMonthName(date_.month);
                    } else {
                        out += LongMonthName(date_.month);
                    }
                    i += k;
                    lastWasHour_ = false;
                    break;
                }
                case 'y': {
                    size_t k = run('y');
                    out += k <= 2 ? Format("%02d", date_.year % 100) : Format("%04d", date_.year);
                    i += k;
                    lastWasHour_ = false;
                    break;
                }
                case 'h': {
                    size_t k = run('h');
                    int h = time_.hour;
                    if (twelveHour) {
                        h %= 12;
                        if (h == 0) h = 12;
                    }
                    out += k == 1 ? std::to_string(h) : Format("%02d", h);
                    i += k;
                    lastWasHour_ = true;
                    break;
                }
                case 'n': {
                    size_t k = run('n');
                    out += k == 1 ? std::to_string(time_.minute) : Format("%02d", time_.minute);
                    i += k;
                    lastWasHour_ = false;
                    break;
                }
                case 's': {
                    size_t k = run('s');
                    out += k == 1 ? std::to_string(time_.second) : Format("%02d", time_.second);
                    i += k;
                    lastWasHour_ = false;
                    break;
                }
                case 'z': {
                    size_t k = run('z');
                    out += k < 3 ? std::to_string(time_.msec) : Format("%03d", time_.msec);
                    i += k;
                    lastWasHour_ = false;
                    break;
                }
                case 't': {
                    size_t k = run('t');
                    if (depth == 0) out += Run(k == 1 ? "hh:nn" : "hh:nn:ss", depth + 1);
                    i += k;
                    lastWasHour_ = false;
                    break;
                }
                case 'c': {
                    if (depth == 0) {
                        out += Run("dd.mm.yyyy", depth + 1);
                        if (TimePart(dt_) != 0) out += " " + Run("hh:nn:ss", depth + 1);
                    }
                    ++i;
                    lastWasHour_ = false;
                    break;
                }
                case '/':
                    out += '.';
                    ++i;
                    break;
                default:
                    // ':' and every other character stand for themselves.
                    out += c;
                    ++i;
                    break;
            }
        }
        return out;
    }

private:
    static bool Matches(const std::string& p, size_t i, const char* word) {
        for (size_t k = 0; word[k]; ++k) {
            if (i + k >= p.size()) return false;
            if (std::tolower(static_cast<unsigned char>(p[i + k])) != word[k]) return false;
        }
        return true;
    }

    static bool HasAmPm(const std::string& p) {
        bool quoted = false;
        char quote = 0;
        for (size_t i = 0; i < p.size(); ++i) {
            if (quoted) {
                if (p[i] == quote) quoted = false;
                continue;
            }
            if (p[i] == '\'' || p[i] == '"') {
                quoted = true;
                quote = p[i];
                continue;
            }
            if (Matches(p, i, "am/pm") || Matches(p, i, "a/p")) return true;
        }
        return false;
    }

    TDateTime dt_;
    DateParts date_;
    TimeParts time_;
    int dow_ = 1;
    bool lastWasHour_ = false;
};

}  // namespace

std::string FormatDateTime(const std::string& pattern, TDateTime dt) {
    return DateTimeFormatter(dt).Run(pattern);
}
