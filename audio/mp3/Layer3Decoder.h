#pragma once
#include <cstdint>
#include <memory>

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
class Layer3Decoder {
public:
    Layer3Decoder(SynthesisFilter* f0, SynthesisFilter* f1, Obuffer& out);
    ~Layer3Decoder();
    Layer3Decoder(const Layer3Decoder&) = delete;
    Layer3Decoder& operator=(const Layer3Decoder&) = delete;

    // The frame whose header (and CRC word) has been read from stream.
    void decodeFrame(BitStream& stream, const FrameHeader& header);

private:
    struct State;
    static void markIntensityLines(State& s, bool lsf, const int16_t* longBands, const int16_t* shortBands,
                                   int* isPos);
    std::unique_ptr<State> s_;
    SynthesisFilter* filter_[2];
    Obuffer& out_;
};

}  // namespace mp3
