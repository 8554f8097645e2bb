// A scratch temporary folder and a fixed clock for the log file tests.
#pragma once

#include <ctime>

#include "diagnostics/log_file.h"
#include "scratch_environment.h"

// 9:05:03 local time on 1 January 2027, whatever the machine's time zone.
inline std::time_t newYearMorning() {
    std::tm local{};
    local.tm_year = 2027 - 1900;
    local.tm_mon = 0;
    local.tm_mday = 1;
    local.tm_hour = 9;
    local.tm_min = 5;
    local.tm_sec = 3;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

inline std::time_t yearsLastSecond() {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 31;
    local.tm_hour = 23;
    local.tm_min = 59;
    local.tm_sec = 59;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

class LogFile : public ScratchEnvironment {
protected:
    void SetUp() override {
        ScratchEnvironment::SetUp();
        previous_ = setLogClock(&newYearMorning);
    }
    void TearDown() override {
        setLogClock(previous_);
        ScratchEnvironment::TearDown();
    }

private:
    LogClock previous_ = nullptr;
};
