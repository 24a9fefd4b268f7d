#include "audio/mp3/FrameHeader.h"

namespace mp3 {

namespace {

// kbit/s by [version == MPEG-1][layer - 1][bitrate index]; index 0 is free
// format and 15 forbidden, both without a frame length (ISO/IEC 11172-3
// 2.4.2.3, ISO/IEC 13818-3 2.4.2.3).
constexpr int16_t kBitrate[2][3][16] = {
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
};

constexpr int32_t kSampleRate[2][4] = {{22050, 24000, 16000, 0}, {44100, 48000, 32000, 0}};

int bitrateKbps(int version, int layer, int bitrateIndex) {
    if (layer < 1 || layer > 3) return 0;
    return kBitrate[version ? 1 : 0][layer - 1][bitrateIndex & 15];
}

}  // namespace

int FrameHeader::sampleRateHz() const { return kSampleRate[version_ ? 1 : 0][sampleIndex_ & 3]; }

int FrameHeader::samplesPerFrame() const {
    if (layer_ == 1) return 384;
    if (layer_ == 3 && version_ == 0) return 576;
    return 1152;
}

void FrameHeader::decode(uint32_t bits) {
    version_ = (bits >> 19) & 1;
    const int layerBits = (bits >> 17) & 3;
    layer_ = layerBits == 0 ? 0 : 4 - layerBits;
    protectionBit_ = ((bits >> 16) & 1) != 0;
    bitrateIndex_ = (bits >> 12) & 15;
    sampleIndex_ = (bits >> 10) & 3;
    padding_ = ((bits >> 9) & 1) != 0;
    mode_ = (bits >> 6) & 3;
    modeExtension_ = (bits >> 4) & 3;

    frameSize_ = 0;
    const int kbps = bitrateKbps(version_, layer_, bitrateIndex_);
    const int rate = sampleRateHz();
    if (layer_ == 0 || kbps == 0 || rate == 0) return;
    const int pad = padding_ ? 1 : 0;
    if (layer_ == 1) {
        frameSize_ = (12000 * kbps / rate + pad) * 4;
    } else if (layer_ == 3 && version_ == 0) {
        frameSize_ = 72000 * kbps / rate + pad;
    } else {
        frameSize_ = 144000 * kbps / rate + pad;
    }
}

}  // namespace mp3
