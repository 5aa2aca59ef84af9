// tovLib's stopwatch: section and final reports.
#include <cstdio>
#include <ctime>
#include <ostream>

#include "lib/tovServices.h"

tovTime tovLib::_time;

namespace {

std::int64_t calendarNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The process clock in milliseconds, kept in 32 bits: differences are taken modulo
// 2^32 and read back as signed, so they survive the wrap.
std::int32_t clockNow() {
    const auto ms = static_cast<long long>(std::clock()) * 1000 / CLOCKS_PER_SEC;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}

double seconds(std::int32_t from, std::int32_t to) {
    const auto diff =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(to) - static_cast<std::uint32_t>(from));
    return static_cast<double>(diff) / 1000.0;
}

void writeTimeOfDay(std::ostream& os, const char* format, std::int64_t when) {
    const auto t = static_cast<std::time_t>(when);
    const std::tm* local = std::localtime(&t);
    const std::tm none{};
    if (!local) local = &none;  // a time the C library cannot convert
    char line[64];
    std::snprintf(line, sizeof line, format, local->tm_hour, local->tm_min, local->tm_sec);
    os << line;
}

const char* calendarText(std::int64_t when) {
    const auto t = static_cast<std::time_t>(when);
    const char* text = std::ctime(&t);
    return text ? text : "?\n";
}

}  // namespace

tovTime tovLib::startTimer() {
    _time.startTime = calendarNow();
    _time.sectionTime = calendarNow();
    _time.lastTime = calendarNow();
    _time.lastClock = _time.sectionClock = _time.startClock = clockNow();
    return _time;
}

tovTime tovLib::updateTimer() {
    _time.sectionTime = _time.lastTime;
    _time.lastTime = calendarNow();
    _time.sectionClock = _time.lastClock;
    _time.lastClock = clockNow();
    return _time;
}

std::ostream& tovLib::sectionTimer(std::ostream& os, const char* label) {
    updateTimer();
    if (label && *label) os << label << std::endl;
    writeTimeOfDay(os, "    Start section time   %2d:%02d:%02d\n", _time.sectionTime);
    writeTimeOfDay(os, "    End section time     %2d:%02d:%02d\n", _time.lastTime);
    char line[64];
    std::snprintf(line, sizeof line, "    Elapsed section time %fs\n",
                  seconds(_time.sectionClock, _time.lastClock));
    return os << line;
}

std::ostream& tovLib::stopTimer(std::ostream& os) {
    updateTimer();
    os << "Starting time " << calendarText(_time.startTime);
    os << "Ending time   " << calendarText(_time.lastTime);
    return os << "Elapsed time  " << seconds(_time.startClock, _time.lastClock) << "s\n";
}
