#include "dsp/Filter.h"

#include <cmath>

#include "dsp/QuorbixError.h"
#include "dsp/Rounding.h"
#include "dsp/SignalObj.h"

namespace {
constexpr double kPi = 3.14159265358979323846;
}

void SignalProcessor::Bind(const SignalObj* source, int16_t* output) {
    if (source == nullptr) throw QuorbixError("Programming error: filter bound to no signal");
    if (source->rate <= 0)
        throw QuorbixError("Programming error: filter bound to a signal without a sample rate");
    if (output == nullptr && source->length > 0)
        throw QuorbixError("Programming error: filter bound without an output buffer");
    source_ = source;
    input_ = source->data;
    output_ = output;
    length_ = source->length;
    radiansPerHertz_ = kPi / source->rate;
}

void SignalProcessor::RequireBound() const {
    if (source_ == nullptr) throw QuorbixError("Programming error: filter used before Bind");
}

int16_t Filter::ToSample(double scaled) {
    if (std::isnan(scaled)) return 0;
    const double r = roundHalfAway(scaled);
    if (r >= 32768.0) return 32767;
    if (r < -32768.0) return -32768;
    return static_cast<int16_t>(r);
}
