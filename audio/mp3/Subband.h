#pragma once
#include <cstdint>

#include "audio/mp3/Layer2Tables.h"

namespace mp3 {

class BitStream;
class SynthesisFilter;

// Requantises one code of nb bits (ISO/IEC 11172-3, Layer I and II decoding):
// the code with its most significant bit inverted is a two's complement
// fraction s'' in [-1, 1), and the value is c * (s'' + d). For Layer I
// c = 2^nb / (2^nb - 1) and d = 2^(1 - nb); for Layer II c and d come
// from the quantisation class.
double requantise(uint32_t code, unsigned nb, double c, double d);

// Layer I requantisation of an nb-bit sample (nb = allocation + 1).
double requantiseLayer1(uint32_t code, unsigned nb);

// Splits a grouped Layer II code word into its three samples, least
// significant first (ISO/IEC 11172-3, Layer II decoding). Every output is below
// steps even for a damaged code word that is too large.
void degroup(uint32_t code, uint32_t steps, uint32_t out[3]);

// The decoder of one subband of a Layer I or II frame. For each frame the
// frame decoder makes one per subband and calls, subband by subband in
// ascending order, readAllocation, (Layer II) readScaleFactorSelection,
// readScaleFactors; then per pass readSamples on every subband (for
// Layer II once per granule of three passes) and putNextSample, which
// hands the subband's next sample of each channel to the filters. A
// subband without allocation hands zeros. Filter f1 may be null: the
// second channel's samples are then dropped; a single-channel subband given
// two filters feeds both the same sample.
class Subband {
public:
    virtual ~Subband() = default;
    virtual void readAllocation(BitStream& stream) = 0;
    virtual void readScaleFactors(BitStream& stream) = 0;
    virtual void readSamples(BitStream& stream) = 0;
    virtual void putNextSample(SynthesisFilter* f0, SynthesisFilter* f1) = 0;
};

// Layer I, one channel (every subband of a single-channel frame).
class SubbandLayer1 : public Subband {
public:
    explicit SubbandLayer1(unsigned sb = 0) : sb_(sb) {}
    void readAllocation(BitStream& stream) override;
    void readScaleFactors(BitStream& stream) override;
    void readSamples(BitStream& stream) override;
    void putNextSample(SynthesisFilter* f0, SynthesisFilter* f1) override;

protected:
    unsigned sb_;
    unsigned nb_ = 0;      // bits per sample, 0 without allocation
    double scale_ = 0.0;
    float sample_ = 0.0f;  // scaled sample of the current pass
};

// Layer I, two channels with separate allocations.
class SubbandLayer1Stereo : public SubbandLayer1 {
public:
    explicit SubbandLayer1Stereo(unsigned sb = 0) : SubbandLayer1(sb) {}
    void readAllocation(BitStream& stream) override;
    void readScaleFactors(BitStream& stream) override;
    void readSamples(BitStream& stream) override;
    void putNextSample(SynthesisFilter* f0, SynthesisFilter* f1) override;

protected:
    unsigned nb1_ = 0;
    double scale1_ = 0.0;
    float sample1_ = 0.0f;
};

// Layer I, joint stereo at or above the bound: one allocation and one
// sample for both channels, each channel with its own scale factor.
class SubbandLayer1IntensityStereo : public SubbandLayer1 {
public:
    explicit SubbandLayer1IntensityStereo(unsigned sb = 0) : SubbandLayer1(sb) {}
    void readScaleFactors(BitStream& stream) override;
    void readSamples(BitStream& stream) override;
    void putNextSample(SynthesisFilter* f0, SynthesisFilter* f1) override;

protected:
    double scale1_ = 0.0;
    float sample1_ = 0.0f;
};

// Layer II, one channel. Samples come in granules of three; scale factor
// part gr / 4 applies to granule gr (ISO/IEC 11172-3, scfsi semantics).
class SubbandLayer2 : public Subband {
public:
    SubbandLayer2(unsigned sb, const AllocTable& table) : sb_(sb), table_(&table) {}
    void readAllocation(BitStream& stream) override;
    virtual void readScaleFactorSelection(BitStream& stream);
    void readScaleFactors(BitStream& stream) override;
    void readSamples(BitStream& stream) override;
    void putNextSample(SynthesisFilter* f0, SynthesisFilter* f1) override;

protected:
    // Class of an allocation value in this subband's row, null for none.
    const QuantClass* classOf(uint32_t allocation) const;
    static void readScaleFactorParts(BitStream& stream, unsigned scfsi, double scale[3]);
    // Three requantised (not yet scaled) samples of one granule.
    static void readGranule(BitStream& stream, const QuantClass& q, double out[3]);
    unsigned part() const;  // scale factor part of the granule just read

    unsigned sb_;
    const AllocTable* table_;
    unsigned granule_ = 0;  // granules read so far in this frame
    unsigned next_ = 0;     // next sample of the current granule, 0..2
    const QuantClass* class_ = nullptr;
    unsigned scfsi_ = 0;
    double scale_[3] = {0.0, 0.0, 0.0};
    float samples_[3] = {0.0f, 0.0f, 0.0f};
};

// Layer II, two channels with separate allocations.
class SubbandLayer2Stereo : public SubbandLayer2 {
public:
    SubbandLayer2Stereo(unsigned sb, const AllocTable& table) : SubbandLayer2(sb, table) {}
    void readAllocation(BitStream& stream) override;
    void readScaleFactorSelection(BitStream& stream) override;
    void readScaleFactors(BitStream& stream) override;
    void readSamples(BitStream& stream) override;
    void putNextSample(SynthesisFilter* f0, SynthesisFilter* f1) override;

protected:
    const QuantClass* class1_ = nullptr;
    unsigned scfsi1_ = 0;
    double scale1_[3] = {0.0, 0.0, 0.0};
    float samples1_[3] = {0.0f, 0.0f, 0.0f};
};

// Layer II, joint stereo at or above the bound: one allocation and one set
// of codes for both channels; each channel has its own scale factor
// selection and scale factors.
class SubbandLayer2IntensityStereo : public SubbandLayer2 {
public:
    SubbandLayer2IntensityStereo(unsigned sb, const AllocTable& table)
        : SubbandLayer2(sb, table) {}
    void readScaleFactorSelection(BitStream& stream) override;
    void readScaleFactors(BitStream& stream) override;
    void readSamples(BitStream& stream) override;
    void putNextSample(SynthesisFilter* f0, SynthesisFilter* f1) override;

protected:
    unsigned scfsi1_ = 0;
    double scale1_[3] = {0.0, 0.0, 0.0};
    float samples1_[3] = {0.0f, 0.0f, 0.0f};
};

}  // namespace mp3
