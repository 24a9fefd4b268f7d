#pragma once
#include <memory>

#include "dsp/WideClones.h"

namespace mp3 {

class BitStream;
class FrameHeader;
class SynthesisFilter;
class Obuffer;

// Decodes Layer III frames (ISO/IEC 11172-3 2.4.3.4, and the low sampling
// frequencies of ISO/IEC 13818-3) through the synthesis filters into the
// collector. Keeps what crosses frames: the bit reservoir, the overlap of the
// hybrid filter bank and the first granule's scale factors. All state is
// sized up front; decoding a frame allocates nothing.
//
// A frame passes through the stages in the order they are declared below:
// side information and the reservoir; per granule and channel the scale
// factors, Huffman decoding and requantisation; stereo processing across
// both channels; then per channel reordering, alias reduction, the hybrid
// synthesis and the polyphase filter.
class Layer3Decoder {
public:
    Layer3Decoder(SynthesisFilter* f0, SynthesisFilter* f1, Obuffer& out);
    ~Layer3Decoder();
    Layer3Decoder(const Layer3Decoder&) = delete;
    Layer3Decoder& operator=(const Layer3Decoder&) = delete;

    // The frame whose header (and CRC word) has been read from stream.
    void decodeFrame(BitStream& stream, const FrameHeader& header);

    // A stream split between two decoders: the one started some frames
    // before the split keeps a copy of what crosses frames on reaching it;
    // its output from there on is exact when the decoder that ran from the
    // start up to the split carries the same.
    void keepCarriedState();
    bool carriesKeptStateOf(const Layer3Decoder& early) const;

private:
    struct State;
    struct Frame;

    void readSideInfo(BitStream& stream, const Frame& f);
    void appendMainData(BitStream& stream, Frame& f);

    void decodeGranule(Frame& f, int gr, int ch);
    void readScaleFactors(Frame& f, int gr, int ch);
    void readLsfScaleFactors(Frame& f, int gr, int ch);
    void decodeHuffman(Frame& f, int gr, int ch, unsigned part23End);
    void requantise(const Frame& f, int gr, int ch);

    void processStereo(const Frame& f, int gr);
    void markIntensityLines(const Frame& f, int gr);
    void markShortIntensityLines(const Frame& f, int gr);
    void markLongIntensityLines(const Frame& f);

    void outputGranule(const Frame& f, int gr, int ch);
    int reorderShortBlocks(const Frame& f, int gr, int ch);
    int reduceAliases(int gr, int ch, int nonzero);
    VEX_WIDE_CLONES void hybridSynthesis(int gr, int ch, int sbLimit);
    void invertFrequencies();
    void polyphase(int ch);

    std::unique_ptr<State> s_;
    std::unique_ptr<State> kept_;
    SynthesisFilter* filter_[2];
    Obuffer& out_;
};

}  // namespace mp3
