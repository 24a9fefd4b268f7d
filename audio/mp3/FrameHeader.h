#pragma once
#include <cstdint>

namespace mp3 {

class BitStream;

// The fields of the current MPEG audio frame header.
class FrameHeader {
public:
    enum Mode { Stereo = 0, JointStereo = 1, DualChannel = 2, SingleChannel = 3 };

    int layer() const { return layer_; }                  // 1..3
    int version() const { return version_; }              // 1 MPEG-1, 0 low sampling frequencies
    int sampleFrequency() const { return sampleIndex_; }  // index 0..2
    int bitrateIndex() const { return bitrateIndex_; }
    int mode() const { return mode_; }
    int modeExtension() const { return modeExtension_; }
    bool checksums() const { return !protectionBit_; }    // a CRC word follows the header
    int frameSize() const { return frameSize_; }          // whole frame in bytes, header included
    int channels() const { return mode_ == SingleChannel ? 1 : 2; }
    // Hz of this header's sampling frequency index (0 for the reserved index 3).
    int sampleRateHz() const;
    // Samples per channel that one frame of this header decodes to.
    int samplesPerFrame() const;

    // Fills every field from the 32 header bits. layer_ is 0 for the reserved
    // layer bits; frameSize_ is 0 when the bitrate index gives no frame length
    // (free format, index 15) or the sampling frequency index is reserved.
    void decode(uint32_t bits);

    // The fields below are filled by the header reader; public so the frame
    // loop and the layer decoders share one plain record.
    int layer_ = 0;
    bool protectionBit_ = true;
    int bitrateIndex_ = 0;
    bool padding_ = false;
    int mode_ = 0;
    int modeExtension_ = 0;
    int version_ = 1;
    int sampleIndex_ = 0;
    int frameSize_ = 0;
    bool firstFound_ = false;
};

}  // namespace mp3
