#include "dsp/FrameData.h"

#include <cmath>

#include "dsp/LargePages.h"
#include "dsp/MathConstants.h"
#include "dsp/QuorbixError.h"
#include "dsp/SignalObj.h"

FrameData::FrameData() = default;
FrameData::~FrameData() = default;

void FrameData::SetSignal(SignalObj* source) {
    source_ = source;
    rate = source != nullptr ? source->rate : 0;
}

void FrameData::SetBinCount(int32_t bins) { width = bins; }

void FrameData::SetStep(int32_t hop) {
    if (rate == 0) throw QuorbixError("SetStep:programming error:Rate");
    if (hop < 1) throw QuorbixError("SetStep:programming error:Step");
    hop_ = hop;
    hopMs_ = hop * 1000.0 / rate;
}

const float* FrameData::FrameAtTime(double t, double* outTimeMs) const {
    const double position = t / hopMs_ + 0.0001;
    if (!(position > -1.0 && position < length)) return nullptr;  // truncation maps (-1, 0) to 0
    const int32_t i = static_cast<int32_t>(position);
    if (outTimeMs != nullptr) *outTimeMs = i * hopMs_;
    return Frame(i);
}

double FrameData::ValueAtTime(double t, int32_t k) const {
    const double i = t / hopMs_;
    // Outside the frames there is nothing to read: 0 rather than a stray access.
    if (!(i > -1.0 && i < length) || k < 0 || k >= width) return 0.0;
    return Frame(static_cast<int32_t>(i))[k];
}

std::vector<double> FrameData::HammingWindow(int32_t n) {
    std::vector<double> w(n > 0 ? n : 0, 1.0);
    if (n < 2) return w;
    for (int32_t i = 0; i < n; ++i) w[i] = 0.54 - 0.46 * std::cos(2.0 * kPi * i / (n - 1));
    return w;
}

float* FrameData::AllocateRows(int32_t frames, int32_t bins) {
    const size_t n = static_cast<size_t>(frames) * static_cast<size_t>(bins);
    if (n > rows_.capacity()) {
        // Rows of a whole song run to tens of megabytes.
        std::vector<float>().swap(rows_);
        rows_.reserve(n);
        adviseLargePages(rows_.data(), n * sizeof(float));
    }
    rows_.assign(n, 0.0f);
    length = frames;
    width = bins;
    elementCount = frames * bins;
    data = rows_.empty() ? nullptr : rows_.data();
    return data;
}

void FrameData::ReplaceRows(std::vector<float>&& rows, int32_t frames, int32_t bins) {
    rows_ = std::move(rows);
    rows_.resize(static_cast<size_t>(frames) * static_cast<size_t>(bins));
    length = frames;
    SetBinCount(bins);
    elementCount = frames * bins;
    data = rows_.empty() ? nullptr : rows_.data();
}

void FrameData::ClearRows() {
    rows_.clear();
    rows_.shrink_to_fit();
    data = nullptr;
    length = 0;
    elementCount = 0;
}
