#pragma once
#include <cstdint>
#include <string>

#include "dsp/SignalObj.h"

// The song under analysis: a signal plus the analysis objects and results.
class SongObj : public SignalObj {
public:
    explicit SongObj(std::string name = std::string()) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }

    int32_t analysisRate = 22050;

private:
    std::string name_;
};
