#include "audio/mp3/Layer12Decoder.h"

#include <algorithm>
#include <cstddef>
#include <new>

#include "audio/mp3/FrameHeader.h"
#include "audio/mp3/Subband.h"
#include "audio/mp3/SynthesisFilter.h"

namespace mp3 {

namespace {

constexpr unsigned kSubbands = 32;

// The subband objects of one frame, built in place so that decoding a frame
// allocates nothing on the heap.
class FrameSubbands {
public:
    FrameSubbands() = default;
    FrameSubbands(const FrameSubbands&) = delete;
    FrameSubbands& operator=(const FrameSubbands&) = delete;
    ~FrameSubbands() {
        for (unsigned i = 0; i < count_; ++i) items_[i]->~Subband();
    }

    template <class T, class... Args>
    T* add(Args&&... args) {
        static_assert(sizeof(T) <= kSlotSize && alignof(T) <= kSlotAlign, "slot too small");
        T* p = new (slots_[count_]) T(static_cast<Args&&>(args)...);
        items_[count_++] = p;
        return p;
    }
    unsigned size() const { return count_; }
    Subband* operator[](unsigned i) const { return items_[i]; }

private:
    static constexpr std::size_t kSlotSize =
        std::max({sizeof(SubbandLayer1), sizeof(SubbandLayer1Stereo),
                  sizeof(SubbandLayer1IntensityStereo), sizeof(SubbandLayer2),
                  sizeof(SubbandLayer2Stereo), sizeof(SubbandLayer2IntensityStereo)});
    static constexpr std::size_t kSlotAlign =
        std::max({alignof(SubbandLayer1), alignof(SubbandLayer1Stereo),
                  alignof(SubbandLayer1IntensityStereo), alignof(SubbandLayer2),
                  alignof(SubbandLayer2Stereo), alignof(SubbandLayer2IntensityStereo)});

    alignas(kSlotAlign) unsigned char slots_[kSubbands][kSlotSize];
    Subband* items_[kSubbands];
    unsigned count_ = 0;
};

// Joint stereo codes subbands from the bound upwards as intensity stereo
// (ISO/IEC 11172-3, mode_extension semantics).
unsigned intensityBound(const FrameHeader& header, unsigned subbands) {
    if (header.mode() != FrameHeader::JointStereo) return 0;
    const unsigned bound = 4u * static_cast<unsigned>(header.modeExtension() & 3) + 4u;
    return std::min(bound, subbands);
}

// One pass: the next sample of every coded subband, silence above them,
// then 32 output samples per channel.
void synthesise(const FrameSubbands& subbands, SynthesisFilter* f0, SynthesisFilter* f1,
                Obuffer& out) {
    for (unsigned i = 0; i < subbands.size(); ++i) subbands[i]->putNextSample(f0, f1);
    for (unsigned sb = subbands.size(); sb < kSubbands; ++sb) {
        f0->inputSample(0.0f, sb);
        if (f1) f1->inputSample(0.0f, sb);
    }
    f0->calculatePcmSamples(out);
    if (f1) f1->calculatePcmSamples(out);
}

void decodeLayer1(BitStream& stream, const FrameHeader& header, SynthesisFilter* f0,
                  SynthesisFilter* f1, Obuffer& out) {
    FrameSubbands subbands;
    const bool single = header.mode() == FrameHeader::SingleChannel;
    const unsigned bound = intensityBound(header, kSubbands);
    for (unsigned sb = 0; sb < kSubbands; ++sb) {
        if (single)
            subbands.add<SubbandLayer1>(sb);
        else if (header.mode() == FrameHeader::JointStereo && sb >= bound)
            subbands.add<SubbandLayer1IntensityStereo>(sb);
        else
            subbands.add<SubbandLayer1Stereo>(sb);
    }
    for (unsigned i = 0; i < subbands.size(); ++i) subbands[i]->readAllocation(stream);
    for (unsigned i = 0; i < subbands.size(); ++i) subbands[i]->readScaleFactors(stream);
    for (int pass = 0; pass < 12; ++pass) {
        for (unsigned i = 0; i < subbands.size(); ++i) subbands[i]->readSamples(stream);
        synthesise(subbands, f0, f1, out);
    }
}

void decodeLayer2(BitStream& stream, const FrameHeader& header, SynthesisFilter* f0,
                  SynthesisFilter* f1, Obuffer& out) {
    const AllocTable& table = selectAllocTable(header.version(), header.sampleFrequency(),
                                               header.bitrateIndex(), header.channels());
    const unsigned sblimit = static_cast<unsigned>(std::min<int>(table.sblimit, kSubbands));
    FrameSubbands subbands;
    SubbandLayer2* layer2[kSubbands];
    const bool single = header.mode() == FrameHeader::SingleChannel;
    const unsigned bound = intensityBound(header, sblimit);
    for (unsigned sb = 0; sb < sblimit; ++sb) {
        if (single)
            layer2[sb] = subbands.add<SubbandLayer2>(sb, table);
        else if (header.mode() == FrameHeader::JointStereo && sb >= bound)
            layer2[sb] = subbands.add<SubbandLayer2IntensityStereo>(sb, table);
        else
            layer2[sb] = subbands.add<SubbandLayer2Stereo>(sb, table);
    }
    for (unsigned sb = 0; sb < sblimit; ++sb) layer2[sb]->readAllocation(stream);
    for (unsigned sb = 0; sb < sblimit; ++sb) layer2[sb]->readScaleFactorSelection(stream);
    for (unsigned sb = 0; sb < sblimit; ++sb) layer2[sb]->readScaleFactors(stream);
    for (int granule = 0; granule < 12; ++granule) {
        for (unsigned sb = 0; sb < sblimit; ++sb) layer2[sb]->readSamples(stream);
        for (int pass = 0; pass < 3; ++pass) synthesise(subbands, f0, f1, out);
    }
}

}  // namespace

void decodeLayer12Frame(BitStream& stream, const FrameHeader& header, SynthesisFilter* f0,
                        SynthesisFilter* f1, Obuffer& out) {
    if (!f0) return;
    if (header.layer() == 1)
        decodeLayer1(stream, header, f0, f1, out);
    else if (header.layer() == 2)
        decodeLayer2(stream, header, f0, f1, out);
}

}  // namespace mp3
