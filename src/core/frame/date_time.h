#pragma once

#include <cstdint>
#include <string>

// The system's date-time: days since 30.12.1899 with the time of day as fraction
// (0.0 stands for "none" wherever a date-time may be missing).
using TDateTime = double;

constexpr double kMSecsPerDay = 86400000.0;

struct DateParts {
    int year = 1899, month = 12, day = 30;
};
struct TimeParts {
    int hour = 0, minute = 0, second = 0, msec = 0;
};

bool IsValidDate(int year, int month, int day);
bool IsValidTime(int hour, int minute, int second, int msec);
int DaysInMonth(int year, int month);

// Encoding fails (returns false) for an invalid calendar date or time of day.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec,
                       TDateTime& out);
// The same, raising a MyException for invalid input.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second = 0,
                         int msec = 0);

DateParts DecodeDate(TDateTime dt);
TimeParts DecodeTime(TDateTime dt);
void DecodeDateTime(TDateTime dt, DateParts& date, TimeParts& time);

// Day 0 of the date part (the integer part, as the platform counts it).
TDateTime DatePart(TDateTime dt);
TDateTime TimePart(TDateTime dt);
// 1 = Sunday … 7 = Saturday.
int DayOfWeek(TDateTime dt);

// The PC's local date and time, to the millisecond.
TDateTime Now();

// Month and day names from the user's locale (LC_ALL / LC_TIME / LANG); Russian when the
// locale names none (C, POSIX or a locale that is not installed).
std::string LongMonthName(int month);   // 1…12
std::string ShortMonthName(int month);  // 1…12
std::string LongDayName(int day);       // 1 = Sunday … 7
std::string ShortDayName(int day);      // 1 = Sunday … 7

// Pattern formatting of the platform's family: d dd ddd dddd ddddd, m mm mmm mmmm, yy yyyy,
// h hh, n nn, s ss, z zzz, t tt, c, am/pm a/p, '/' and ':' separators, '…' or "…" literals.
// "m" right after an hour means minutes. Letters are matched case-insensitively.
std::string FormatDateTime(const std::string& pattern, TDateTime dt);
