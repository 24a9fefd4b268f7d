#include "dsp/Filter.h"

#include <cmath>

#include "dsp/MathConstants.h"
#include "dsp/QuorbixError.h"
#include "dsp/Rounding.h"
#include "dsp/SignalObj.h"

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

