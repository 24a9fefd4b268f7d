#include "audio/mp3/Subband.h"

#include "audio/mp3/BitStream.h"
#include "audio/mp3/SynthesisFilter.h"

namespace mp3 {

double requantise(uint32_t code, unsigned nb, double c, double d) {
    // Inverting the top bit and reading two's complement is the same as
    // code / 2^(nb-1) - 1; both steps are exact in double.
    const double half = static_cast<double>(1u << (nb - 1));  // nb is 2..16
    const double fraction = (static_cast<double>(code) - half) / half;
    return c * (fraction + d);
}

double requantiseLayer1(uint32_t code, unsigned nb) {
    const double levels = static_cast<double>(1u << nb);
    return requantise(code, nb, levels / (levels - 1.0), 2.0 / levels);
}

void degroup(uint32_t code, uint32_t steps, uint32_t out[3]) {
    for (int i = 0; i < 3; ++i) {
        out[i] = code % steps;
        code /= steps;
    }
}

namespace {

double readScale(BitStream& stream) { return kScaleFactors[stream.getBits(6)]; }

// Layer I allocation field: 0 = no samples, otherwise nb = value + 1. The
// value 15 is forbidden; a damaged frame carrying it is read as 16-bit
// samples, which the formula covers, so the frame's bit layout stays defined.
unsigned readLayer1Allocation(BitStream& stream) {
    const uint32_t a = stream.getBits(4);
    return a == 0 ? 0u : a + 1;
}

float readLayer1Sample(BitStream& stream, unsigned nb, double scale) {
    return static_cast<float>(requantiseLayer1(stream.getBits(nb), nb) * scale);
}

}  // namespace

// ---- Layer I -------------------------------------------------------------

void SubbandLayer1::readAllocation(BitStream& stream) { nb_ = readLayer1Allocation(stream); }

void SubbandLayer1::readScaleFactors(BitStream& stream) {
    if (nb_) scale_ = readScale(stream);
}

void SubbandLayer1::readSamples(BitStream& stream) {
    if (nb_) sample_ = readLayer1Sample(stream, nb_, scale_);
}

void SubbandLayer1::putNextSample(SynthesisFilter* f0, SynthesisFilter* f1) {
    f0->inputSample(sample_, sb_);
    if (f1) f1->inputSample(sample_, sb_);  // keeps a second filter in step
}

void SubbandLayer1Stereo::readAllocation(BitStream& stream) {
    nb_ = readLayer1Allocation(stream);
    nb1_ = readLayer1Allocation(stream);
}

void SubbandLayer1Stereo::readScaleFactors(BitStream& stream) {
    if (nb_) scale_ = readScale(stream);
    if (nb1_) scale1_ = readScale(stream);
}

void SubbandLayer1Stereo::readSamples(BitStream& stream) {
    if (nb_) sample_ = readLayer1Sample(stream, nb_, scale_);
    if (nb1_) sample1_ = readLayer1Sample(stream, nb1_, scale1_);
}

void SubbandLayer1Stereo::putNextSample(SynthesisFilter* f0, SynthesisFilter* f1) {
    f0->inputSample(sample_, sb_);
    if (f1) f1->inputSample(sample1_, sb_);
}

void SubbandLayer1IntensityStereo::readScaleFactors(BitStream& stream) {
    if (nb_) {
        scale_ = readScale(stream);
        scale1_ = readScale(stream);
    }
}

void SubbandLayer1IntensityStereo::readSamples(BitStream& stream) {
    if (nb_) {
        const double v = requantiseLayer1(stream.getBits(nb_), nb_);
        sample_ = static_cast<float>(v * scale_);
        sample1_ = static_cast<float>(v * scale1_);
    }
}

void SubbandLayer1IntensityStereo::putNextSample(SynthesisFilter* f0, SynthesisFilter* f1) {
    f0->inputSample(sample_, sb_);
    if (f1) f1->inputSample(sample1_, sb_);
}

// ---- Layer II ------------------------------------------------------------

const QuantClass* SubbandLayer2::classOf(uint32_t allocation) const {
    const int8_t c = table_->classes[sb_][allocation & 15u];
    return c == AllocTable::kNoClass ? nullptr : &kQuantClasses[static_cast<unsigned>(c)];
}

void SubbandLayer2::readScaleFactorParts(BitStream& stream, unsigned scfsi, double scale[3]) {
    // scfsi says which of the three parts share a transmitted scale factor.
    switch (scfsi) {
        case 0:
            scale[0] = readScale(stream);
            scale[1] = readScale(stream);
            scale[2] = readScale(stream);
            break;
        case 1:
            scale[0] = scale[1] = readScale(stream);
            scale[2] = readScale(stream);
            break;
        case 2:
            scale[0] = scale[1] = scale[2] = readScale(stream);
            break;
        default:
            scale[0] = readScale(stream);
            scale[1] = scale[2] = readScale(stream);
            break;
    }
}

void SubbandLayer2::readGranule(BitStream& stream, const QuantClass& q, double out[3]) {
    if (q.grouping) {
        uint32_t codes[3];
        degroup(stream.getBits(q.codeBits), q.steps, codes);
        for (int i = 0; i < 3; ++i) out[i] = requantise(codes[i], q.sampleBits, q.c, q.d);
    } else {
        for (int i = 0; i < 3; ++i)
            out[i] = requantise(stream.getBits(q.codeBits), q.sampleBits, q.c, q.d);
    }
}

unsigned SubbandLayer2::part() const { return granule_ < 8 ? granule_ / 4 : 2u; }

void SubbandLayer2::readAllocation(BitStream& stream) {
    class_ = classOf(stream.getBits(table_->nbal[sb_]));
}

void SubbandLayer2::readScaleFactorSelection(BitStream& stream) {
    if (class_) scfsi_ = stream.getBits(2);
}

void SubbandLayer2::readScaleFactors(BitStream& stream) {
    if (class_) readScaleFactorParts(stream, scfsi_, scale_);
}

void SubbandLayer2::readSamples(BitStream& stream) {
    if (class_) {
        double v[3];
        readGranule(stream, *class_, v);
        for (int i = 0; i < 3; ++i) samples_[i] = static_cast<float>(v[i] * scale_[part()]);
    }
    ++granule_;
    next_ = 0;
}

void SubbandLayer2::putNextSample(SynthesisFilter* f0, SynthesisFilter* f1) {
    const float s = next_ < 3 ? samples_[next_] : 0.0f;
    ++next_;
    f0->inputSample(s, sb_);
    if (f1) f1->inputSample(s, sb_);
}

void SubbandLayer2Stereo::readAllocation(BitStream& stream) {
    const unsigned nbal = table_->nbal[sb_];
    class_ = classOf(stream.getBits(nbal));
    class1_ = classOf(stream.getBits(nbal));
}

void SubbandLayer2Stereo::readScaleFactorSelection(BitStream& stream) {
    if (class_) scfsi_ = stream.getBits(2);
    if (class1_) scfsi1_ = stream.getBits(2);
}

void SubbandLayer2Stereo::readScaleFactors(BitStream& stream) {
    if (class_) readScaleFactorParts(stream, scfsi_, scale_);
    if (class1_) readScaleFactorParts(stream, scfsi1_, scale1_);
}

void SubbandLayer2Stereo::readSamples(BitStream& stream) {
    const unsigned p = part();
    double v[3];
    if (class_) {
        readGranule(stream, *class_, v);
        for (int i = 0; i < 3; ++i) samples_[i] = static_cast<float>(v[i] * scale_[p]);
    }
    if (class1_) {
        readGranule(stream, *class1_, v);
        for (int i = 0; i < 3; ++i) samples1_[i] = static_cast<float>(v[i] * scale1_[p]);
    }
    ++granule_;
    next_ = 0;
}

void SubbandLayer2Stereo::putNextSample(SynthesisFilter* f0, SynthesisFilter* f1) {
    const bool ok = next_ < 3;
    f0->inputSample(ok ? samples_[next_] : 0.0f, sb_);
    if (f1) f1->inputSample(ok ? samples1_[next_] : 0.0f, sb_);
    ++next_;
}

void SubbandLayer2IntensityStereo::readScaleFactorSelection(BitStream& stream) {
    if (class_) {
        scfsi_ = stream.getBits(2);
        scfsi1_ = stream.getBits(2);
    }
}

void SubbandLayer2IntensityStereo::readScaleFactors(BitStream& stream) {
    if (class_) {
        readScaleFactorParts(stream, scfsi_, scale_);
        readScaleFactorParts(stream, scfsi1_, scale1_);
    }
}

void SubbandLayer2IntensityStereo::readSamples(BitStream& stream) {
    if (class_) {
        const unsigned p = part();
        double v[3];
        readGranule(stream, *class_, v);
        for (int i = 0; i < 3; ++i) {
            samples_[i] = static_cast<float>(v[i] * scale_[p]);
            samples1_[i] = static_cast<float>(v[i] * scale1_[p]);
        }
    }
    ++granule_;
    next_ = 0;
}

void SubbandLayer2IntensityStereo::putNextSample(SynthesisFilter* f0, SynthesisFilter* f1) {
    const bool ok = next_ < 3;
    f0->inputSample(ok ? samples_[next_] : 0.0f, sb_);
    if (f1) f1->inputSample(ok ? samples1_[next_] : 0.0f, sb_);
    ++next_;
}

}  // namespace mp3
