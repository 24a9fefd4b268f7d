#include "audio/mp3/Layer3Decoder.h"

#include <cmath>
#include <cstring>

#include "audio/mp3/BitStream.h"
#include "audio/mp3/FrameHeader.h"
#include "audio/mp3/MP3Tables.h"
#include "audio/mp3/Obuffer.h"
#include "audio/mp3/SynthesisFilter.h"

namespace mp3 {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Layer III pre-emphasis (ISO/IEC 11172-3 Table B.6).
constexpr int8_t kPretab[22] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};
// scalefac_compress -> slen1, slen2 (ISO/IEC 11172-3 2.4.2.7).
constexpr int8_t kSlen[16][2] = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {3, 0}, {1, 1}, {1, 2}, {1, 3},
                                 {2, 1}, {2, 2}, {2, 3}, {3, 1}, {3, 2}, {3, 3}, {4, 2}, {4, 3}};
// Scale factors per slen group for the low sampling frequencies, by block
// number and by long / short / mixed blocks (ISO/IEC 13818-3 2.4.3.2).
constexpr int8_t kNrOfSfb[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},     {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},   {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}}};
// Alias-reduction coefficients ci (ISO/IEC 11172-3 Table B.9).
constexpr double kAliasCi[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};

constexpr int kMaxValue = 8206;  // 15 + 2^13 - 1: largest escaped Huffman value

struct Constants {
    float pow43[kMaxValue + 1];
    float cs[8], ca[8];
    float win[4][36];        // by block type; type 2 holds the 12-point short window
    // Transposed ([k][row]) so that the products for all rows of one input
    // line form one contiguous, vectorisable loop.
    float imdctLong[18][18]; // rows i = 0..8 and 18..26 of the 36-point IMDCT
    float imdctShort[6][6];  // rows i = 0..2 and 6..8 of the 12-point IMDCT
    float isRatio[7][2];     // MPEG-1 intensity positions 0..6: left, right factor
    float lsfIs[2][32][2];   // [intensity_scale][position]: left, right factor
    float gain[4];           // 2^(q/4) for q = 0..3

    Constants() {
        for (int i = 0; i <= kMaxValue; ++i) pow43[i] = float(std::pow(double(i), 4.0 / 3.0));
        for (int i = 0; i < 8; ++i) {
            const double sq = std::sqrt(1.0 + kAliasCi[i] * kAliasCi[i]);
            cs[i] = float(1.0 / sq);
            ca[i] = float(kAliasCi[i] / sq);
        }
        for (int i = 0; i < 36; ++i) {
            const double longWin = std::sin(kPi / 36 * (i + 0.5));
            win[0][i] = float(longWin);
            win[1][i] = float(i < 18 ? longWin : i < 24 ? 1.0 : i < 30 ? std::sin(kPi / 12 * (i - 18 + 0.5)) : 0.0);
            win[3][i] = float(i < 6 ? 0.0 : i < 12 ? std::sin(kPi / 12 * (i - 6 + 0.5)) : i < 18 ? 1.0 : longWin);
            win[2][i] = i < 12 ? float(std::sin(kPi / 12 * (i + 0.5))) : 0.0f;
        }
        for (int r = 0; r < 18; ++r) {
            const int i = r < 9 ? r : r + 9;
            for (int k = 0; k < 18; ++k) imdctLong[k][r] = float(std::cos(kPi / 72 * (2 * i + 19) * (2 * k + 1)));
        }
        for (int r = 0; r < 6; ++r) {
            const int i = r < 3 ? r : r + 3;
            for (int k = 0; k < 6; ++k) imdctShort[k][r] = float(std::cos(kPi / 24 * (2 * i + 7) * (2 * k + 1)));
        }
        for (int p = 0; p < 7; ++p) {
            if (p == 6) {
                isRatio[p][0] = 1.0f;
                isRatio[p][1] = 0.0f;
            } else {
                const double t = std::tan(p * kPi / 12);
                isRatio[p][0] = float(t / (1 + t));
                isRatio[p][1] = float(1 / (1 + t));
            }
        }
        // ISO/IEC 13818-3 2.4.3.2: io = 2^(-1/4) or 2^(-1/2); odd positions
        // attenuate the left channel, even ones the right.
        for (int sc = 0; sc < 2; ++sc) {
            const double io = sc ? std::pow(2.0, -0.5) : std::pow(2.0, -0.25);
            for (int p = 0; p < 32; ++p) {
                double l = 1.0, r = 1.0;
                if (p & 1) l = std::pow(io, (p + 1) / 2);
                else if (p) r = std::pow(io, p / 2);
                lsfIs[sc][p][0] = float(l);
                lsfIs[sc][p][1] = float(r);
            }
        }
        for (int q = 0; q < 4; ++q) gain[q] = float(std::pow(2.0, q / 4.0));
    }
};

const Constants& constants() {
    static const Constants c;
    return c;
}

struct GranuleInfo {
    int part23Length = 0;
    int bigValues = 0;
    int globalGain = 0;
    int scalefacCompress = 0;
    bool windowSwitching = false;
    int blockType = 0;
    bool mixed = false;
    int tableSelect[3] = {};
    int subblockGain[3] = {};
    int region0Count = 0;
    int region1Count = 0;
    int preflag = 0;
    int scalefacScale = 0;
    int count1Table = 0;
};

inline uint64_t bigEndian64(uint64_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return w;
#else
    return __builtin_bswap64(w);
#endif
}

// Bit reader over the reservoir. The caller keeps positions inside a buffer
// with enough zero bytes after its data that an 8-byte window never leaves it.
class MainData {
public:
    void reset(const uint8_t* data, unsigned bytes) {
        data_ = data;
        limit_ = bytes * 8;
        pos_ = 0;
    }
    unsigned pos() const { return pos_; }
    void seek(unsigned bit) { pos_ = bit < limit_ ? bit : limit_; }
    uint32_t peek32() const {
        uint64_t w;
        std::memcpy(&w, data_ + (pos_ >> 3), sizeof w);
        return uint32_t((bigEndian64(w) << (pos_ & 7)) >> 32);
    }
    void skip(unsigned n) {
        pos_ += n;
        if (pos_ > limit_) pos_ = limit_;
    }
    uint32_t get(unsigned n) {
        if (n == 0) return 0;
        const uint32_t v = peek32() >> (32 - n);
        skip(n);
        return v;
    }

private:
    const uint8_t* data_ = nullptr;
    unsigned limit_ = 0;
    unsigned pos_ = 0;
};

// v with its sign bit set when negative is 1.
inline float withSign(float v, uint32_t negative) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits |= negative << 31;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// One Huffman code word of table t: x in bits 12..15, y in 8..11.
inline uint32_t huffmanDecode(MainData& md, const HuffmanTable& t) {
    uint32_t e = kHuffmanNodes[t.offset + (md.peek32() >> (32 - t.rootBits))];
    if (e & 0x80000000u) {
        md.skip(t.rootBits);
        const unsigned width = e & 0xFF;
        e = kHuffmanNodes[((e >> 8) & 0x7FFFFF) + (md.peek32() >> (32 - width))];
    }
    md.skip(e & 0xFF);
    return e;
}

}  // namespace

struct Layer3Decoder::State {
    // Reservoir: up to 511 bytes of earlier frames plus the current frame's
    // main data, then zeros. Granules read at most 4 x 4095 bits past their
    // start, which the zero tail covers.
    static constexpr int kReservoirKeep = 511;
    static constexpr int kReservoirData = kReservoirKeep + BitStream::kFrameBufferBytes;
    static constexpr int kReservoirTail = 4 * 512 + 64;
    uint8_t reservoir[kReservoirData + kReservoirTail] = {};
    int reservoirLength = 0;

    GranuleInfo info[2][2];
    int mainDataBegin = 0;
    int scfsi[2][4] = {};

    int scalefacLong[2][22] = {};
    int scalefacShort[2][13][3] = {};
    // Largest intensity position value of each band (the "illegal" position
    // of ISO/IEC 13818-3); MPEG-1 uses 7 everywhere.
    int isIllegalLong[22] = {};
    int isIllegalShort[13] = {};
    const GranuleInfo* rightInfo = nullptr;

    int isPos[576] = {};
    alignas(32) float xr[2][576] = {};
    alignas(32) float reordered[576] = {};
    int nonzero[2] = {};

    alignas(32) float overlap[2][32][18] = {};
    alignas(32) float hybrid[18][32] = {};  // time slot x subband
};

Layer3Decoder::Layer3Decoder(SynthesisFilter* f0, SynthesisFilter* f1, Obuffer& out)
    : s_(new State), filter_{f0, f1}, out_(out) {
    constants();
}

Layer3Decoder::~Layer3Decoder() = default;

namespace {

// Scale-factor band tables of a header: 0..2 MPEG-1, 3..5 the low rates.
int rateRow(const FrameHeader& h) {
    const int idx = h.sample_frequency() > 2 ? 0 : h.sample_frequency();
    return h.version() ? idx : 3 + idx;
}

void readSideInfo(BitStream& bs, bool lsf, int nch, int& mainDataBegin, int scfsi[2][4], GranuleInfo info[2][2]) {
    if (lsf) {
        mainDataBegin = int(bs.get_bits(8));
        bs.get_bits(nch == 1 ? 1 : 2);
    } else {
        mainDataBegin = int(bs.get_bits(9));
        bs.get_bits(nch == 1 ? 5 : 3);
        for (int ch = 0; ch < nch; ++ch)
            for (int g = 0; g < 4; ++g) scfsi[ch][g] = int(bs.get_bits(1));
    }
    const int granules = lsf ? 1 : 2;
    for (int gr = 0; gr < granules; ++gr) {
        for (int ch = 0; ch < nch; ++ch) {
            GranuleInfo& g = info[gr][ch];
            g.part23Length = int(bs.get_bits(12));
            g.bigValues = int(bs.get_bits(9));
            g.globalGain = int(bs.get_bits(8));
            g.scalefacCompress = int(bs.get_bits(lsf ? 9 : 4));
            g.windowSwitching = bs.get_bits(1) != 0;
            if (g.windowSwitching) {
                g.blockType = int(bs.get_bits(2));
                g.mixed = bs.get_bits(1) != 0;
                g.tableSelect[0] = int(bs.get_bits(5));
                g.tableSelect[1] = int(bs.get_bits(5));
                g.tableSelect[2] = 0;
                for (int w = 0; w < 3; ++w) g.subblockGain[w] = int(bs.get_bits(3));
                g.region0Count = (g.blockType == 2 && !g.mixed) ? 8 : 7;
                g.region1Count = 36;  // the rest of the big values
            } else {
                g.blockType = 0;
                g.mixed = false;
                for (int r = 0; r < 3; ++r) g.tableSelect[r] = int(bs.get_bits(5));
                for (int w = 0; w < 3; ++w) g.subblockGain[w] = 0;
                g.region0Count = int(bs.get_bits(4));
                g.region1Count = int(bs.get_bits(3));
            }
            g.preflag = lsf ? 0 : int(bs.get_bits(1));
            g.scalefacScale = int(bs.get_bits(1));
            g.count1Table = int(bs.get_bits(1));
        }
    }
}


// Line markers of the stereo stage besides intensity positions 0..31.
constexpr int kNotIntensity = -1;      // below the intensity range
constexpr int kIllegalPosition = -2;   // in the range, but the position is the illegal one

}  // namespace

// Marks the lines of the right channel that are intensity coded (ISO/IEC
// 11172-3 2.4.3.4.9.3, ISO/IEC 13818-3 2.4.3.2): the range starts above the
// highest scale-factor band (per window for short blocks) holding a nonzero
// right-channel line. The last band has no scale factor of its own; it
// follows the band below it. When that band lies below the range, MPEG-1
// leaves the last band ordinary stereo, while the low sampling frequencies
// give it position 0 (both channels the full signal), which is what their
// reference stream l3-test46 decodes to.
void Layer3Decoder::markIntensityLines(State& s, bool lsf, const int16_t* longBands, const int16_t* shortBands,
                                       int* isPos) {
    const GranuleInfo& g = *s.rightInfo;
    const float* rq = s.xr[1];  // zero exactly where the quantised value is
    const int rnz = s.nonzero[1];
    auto lastNonzero = [&](int from, int to) {  // highest nonzero line in [from, to), or -1
        for (int j = (to < rnz ? to : rnz) - 1; j >= from; --j)
            if (rq[j] != 0.0f) return j;
        return -1;
    };
    auto positionOf = [](int value, int illegal) { return value == illegal ? kIllegalPosition : value; };
    auto lastBand = [lsf](int below) { return below == kNotIntensity && lsf ? 0 : below; };
    const int* sfl = s.scalefacLong[1];
    const int(*sfs)[3] = s.scalefacShort[1];

    if (g.windowSwitching && g.blockType == 2) {
        int maxSfb = 0;
        const int firstShort = g.mixed ? 3 : 0;
        for (int w = 0; w < 3; ++w) {
            int top = firstShort - 1;
            for (int sfb = 12; sfb >= firstShort; --sfb) {
                const int width = shortBands[sfb + 1] - shortBands[sfb];
                const int start = 3 * shortBands[sfb] + w * width;
                if (lastNonzero(start, start + width) >= 0) {
                    top = sfb;
                    break;
                }
            }
            int sfb = top + 1;
            if (sfb > maxSfb) maxSfb = sfb;
            for (; sfb < 12; ++sfb) {
                const int pos = positionOf(sfs[sfb][w], s.isIllegalShort[sfb]);
                const int width = shortBands[sfb + 1] - shortBands[sfb];
                const int start = 3 * shortBands[sfb] + w * width;
                for (int j = start; j < start + width; ++j) isPos[j] = pos;
            }
            const int width11 = shortBands[12] - shortBands[11];
            const int pos = lastBand(isPos[3 * shortBands[11] + w * width11]);
            const int width = shortBands[13] - shortBands[12];
            const int start = 3 * shortBands[12] + w * width;
            for (int j = start; j < start + width; ++j) isPos[j] = pos;
        }
        if (g.mixed && maxSfb <= 3) {
            const int longCount = lsf ? 6 : 8;
            const int top = lastNonzero(0, 36);
            int sfb = 0;
            while (sfb < longCount && longBands[sfb] <= top) ++sfb;
            for (; sfb < longCount; ++sfb) {
                const int pos = positionOf(sfl[sfb], s.isIllegalLong[sfb]);
                for (int j = longBands[sfb]; j < longBands[sfb + 1]; ++j) isPos[j] = pos;
            }
        }
    } else {
        const int top = lastNonzero(0, 576);
        int sfb = 0;
        while (sfb < 21 && longBands[sfb] <= top) ++sfb;
        for (; sfb < 21; ++sfb) {
            const int pos = positionOf(sfl[sfb], s.isIllegalLong[sfb]);
            for (int j = longBands[sfb]; j < longBands[sfb + 1]; ++j) isPos[j] = pos;
        }
        if (longBands[21] > top) {
            const int pos = lastBand(isPos[longBands[20]]);
            for (int j = longBands[21]; j < 576; ++j) isPos[j] = pos;
        }
    }
}

namespace {

}  // namespace

void Layer3Decoder::decodeFrame(BitStream& bs, const FrameHeader& h) {
    State& s = *s_;
    const Constants& k = constants();
    const bool lsf = h.version() == 0;
    const int nch = h.channels();
    const int row = rateRow(h);
    const int16_t* longBands = kLongBands[row];
    const int16_t* shortBands = kShortBands[row];

    readSideInfo(bs, lsf, nch, s.mainDataBegin, s.scfsi, s.info);

    // Append this frame's main data to the reservoir.
    const int sideBytes = lsf ? (nch == 1 ? 9 : 17) : (nch == 1 ? 17 : 32);
    const int headerBytes = (h.checksums() ? 2 : 0) + sideBytes;
    int mainBytes = bs.frameBytes() - headerBytes;
    if (mainBytes < 0) mainBytes = 0;
    if (s.reservoirLength > State::kReservoirKeep) {
        std::memmove(s.reservoir, s.reservoir + s.reservoirLength - State::kReservoirKeep, State::kReservoirKeep);
        s.reservoirLength = State::kReservoirKeep;
    }
    const int before = s.reservoirLength;
    std::memcpy(s.reservoir + before, bs.frameData() + headerBytes, size_t(mainBytes));
    s.reservoirLength = before + mainBytes;
    std::memset(s.reservoir + s.reservoirLength, 0, State::kReservoirTail);

    const bool haveMainData = s.mainDataBegin <= before;
    MainData md;
    md.reset(s.reservoir, unsigned(s.reservoirLength));
    unsigned bit = haveMainData ? unsigned(before - s.mainDataBegin) * 8 : 0;

    const int granules = lsf ? 1 : 2;
    const bool msStereo = h.mode() == FrameHeader::JointStereo && (h.mode_extension() & 2);
    const bool iStereo = h.mode() == FrameHeader::JointStereo && (h.mode_extension() & 1);

    for (int gr = 0; gr < granules; ++gr) {
        for (int ch = 0; ch < nch; ++ch) {
            GranuleInfo& g = s.info[gr][ch];
            float* q = s.xr[ch];  // |is|^(4/3) with sign, scaled below
            const float* pow43 = k.pow43;
            s.nonzero[ch] = 0;
            if (!haveMainData) continue;

            md.seek(bit);
            const unsigned part23End = bit + unsigned(g.part23Length);
            bit = part23End;

            // Scale factors.
            int* sfl = s.scalefacLong[ch];
            int(*sfs)[3] = s.scalefacShort[ch];
            const bool shortBlocks = g.windowSwitching && g.blockType == 2;
            if (!lsf) {
                const int slen1 = kSlen[g.scalefacCompress][0], slen2 = kSlen[g.scalefacCompress][1];
                if (shortBlocks) {
                    int sfb = 0;
                    if (g.mixed) {
                        for (; sfb < 8; ++sfb) sfl[sfb] = int(md.get(unsigned(slen1)));
                        sfb = 3;
                    }
                    for (; sfb < 12; ++sfb) {
                        const unsigned n = unsigned(sfb < 6 ? slen1 : slen2);
                        for (int w = 0; w < 3; ++w) sfs[sfb][w] = int(md.get(n));
                    }
                    sfs[12][0] = sfs[12][1] = sfs[12][2] = 0;
                } else {
                    static constexpr int kGroups[5] = {0, 6, 11, 16, 21};
                    for (int grp = 0; grp < 4; ++grp) {
                        if (gr == 1 && s.scfsi[ch][grp]) continue;  // kept from granule 0
                        const unsigned n = unsigned(grp < 2 ? slen1 : slen2);
                        for (int sfb = kGroups[grp]; sfb < kGroups[grp + 1]; ++sfb) sfl[sfb] = int(md.get(n));
                    }
                    sfl[21] = 0;
                }
                for (int b = 0; b < 22; ++b) s.isIllegalLong[b] = 7;
                for (int b = 0; b < 13; ++b) s.isIllegalShort[b] = 7;
            } else {
                // ISO/IEC 13818-3 2.4.3.2: scalefac_compress selects a block
                // number, slen1..slen4 and the preflag.
                const bool intensityChannel = iStereo && ch == 1;
                int v = intensityChannel ? g.scalefacCompress >> 1 : g.scalefacCompress;
                int block, slen[4];
                g.preflag = 0;
                if (!intensityChannel) {
                    if (v < 400) {
                        block = 0;
                        slen[0] = (v >> 4) / 5; slen[1] = (v >> 4) % 5; slen[2] = (v & 15) >> 2; slen[3] = v & 3;
                    } else if (v < 500) {
                        v -= 400;
                        block = 1;
                        slen[0] = (v >> 2) / 5; slen[1] = (v >> 2) % 5; slen[2] = v & 3; slen[3] = 0;
                    } else {
                        v -= 500;
                        block = 2;
                        slen[0] = v / 3; slen[1] = v % 3; slen[2] = 0; slen[3] = 0;
                        g.preflag = 1;
                    }
                } else {
                    if (v < 180) {
                        block = 3;
                        slen[0] = v / 36; slen[1] = (v % 36) / 6; slen[2] = (v % 36) % 6; slen[3] = 0;
                    } else if (v < 244) {
                        v -= 180;
                        block = 4;
                        slen[0] = (v % 64) >> 4; slen[1] = (v % 16) >> 2; slen[2] = v % 4; slen[3] = 0;
                    } else {
                        v -= 244;
                        block = 5;
                        slen[0] = v / 3; slen[1] = v % 3; slen[2] = 0; slen[3] = 0;
                    }
                }
                const int kind = shortBlocks ? (g.mixed ? 2 : 1) : 0;
                const int8_t* counts = kNrOfSfb[block][kind];
                int values[39];
                int illegal[39];
                int n = 0;
                for (int part = 0; part < 4; ++part) {
                    for (int i = 0; i < counts[part]; ++i, ++n) {
                        values[n] = int(md.get(unsigned(slen[part])));
                        illegal[n] = (1 << slen[part]) - 1;
                    }
                }
                for (; n < 39; ++n) values[n] = 0, illegal[n] = 0;
                n = 0;
                if (!shortBlocks) {
                    for (int sfb = 0; sfb < 21; ++sfb, ++n) sfl[sfb] = values[n], s.isIllegalLong[sfb] = illegal[n];
                    sfl[21] = 0;
                    s.isIllegalLong[21] = s.isIllegalLong[20];
                } else {
                    int sfb = 0;
                    if (g.mixed) {
                        for (; sfb < 6; ++sfb, ++n) sfl[sfb] = values[n], s.isIllegalLong[sfb] = illegal[n];
                        sfb = 3;
                    }
                    for (; sfb < 12; ++sfb) {
                        for (int w = 0; w < 3; ++w, ++n) sfs[sfb][w] = values[n];
                        s.isIllegalShort[sfb] = illegal[n - 1];
                    }
                    sfs[12][0] = sfs[12][1] = sfs[12][2] = 0;
                    s.isIllegalShort[12] = s.isIllegalShort[11];
                }
            }

            // Huffman decoding of the big values, then the count1 quadruples.
            int bigEnd = g.bigValues * 2;
            if (bigEnd > 576) bigEnd = 576;
            int region1, region2;
            if (g.windowSwitching) {
                region1 = g.blockType == 2 ? 36 : longBands[8];
                region2 = 576;
            } else {
                const int r1 = g.region0Count + 1;
                const int r2 = g.region0Count + g.region1Count + 2;
                region1 = longBands[r1 > 22 ? 22 : r1];
                region2 = longBands[r2 > 22 ? 22 : r2];
            }
            if (region1 > bigEnd) region1 = bigEnd;
            if (region2 > bigEnd) region2 = bigEnd;
            const int regionEnd[3] = {region1, region2, bigEnd};
            int i = 0;
            for (int r = 0; r < 3; ++r) {
                const HuffmanTable& t = kHuffmanTables[g.tableSelect[r]];
                const int end = regionEnd[r];
                if (t.rootBits == 0) {
                    for (; i < end; ++i) q[i] = 0.0f;
                    continue;
                }
                const unsigned linbits = t.linbits;
                if (linbits == 0) {
                    // No escapes: both sign bits come from one look at the stream.
                    for (; i < end; i += 2) {
                        const uint32_t e = huffmanDecode(md, t);
                        const int x = int((e >> 12) & 15), y = int((e >> 8) & 15);
                        // Branch-free: the sign bits are as good as random.
                        const uint32_t signs = md.peek32();
                        const unsigned nx = x != 0, ny = y != 0;
                        const uint32_t sx = (signs >> 31) & nx;
                        const uint32_t sy = ((signs << nx) >> 31) & ny;
                        q[i] = withSign(pow43[x], sx);
                        q[i + 1] = withSign(pow43[y], sy);
                        md.skip(nx + ny);
                    }
                    continue;
                }
                for (; i < end; i += 2) {
                    const uint32_t e = huffmanDecode(md, t);
                    int x = int((e >> 12) & 15), y = int((e >> 8) & 15);
                    if (x == 15) x += int(md.get(linbits));
                    const unsigned nx = x != 0;
                    q[i] = withSign(pow43[x], md.get(nx));
                    if (y == 15) y += int(md.get(linbits));
                    const unsigned ny = y != 0;
                    q[i + 1] = withSign(pow43[y], md.get(ny));
                }
            }
            const HuffmanTable& quad = kHuffmanTables[32 + g.count1Table];
            while (i + 4 <= 576 && md.pos() < part23End) {
                const uint32_t e = huffmanDecode(md, quad);
                const int vwxy = int((e >> 8) & 15);
                float vals[4];
                uint32_t signs = md.peek32();
                unsigned used = 0;
                for (int j = 0; j < 4; ++j) {
                    const unsigned nz = (vwxy >> (3 - j)) & 1;
                    vals[j] = withSign(float(nz), (signs >> 31) & nz);
                    signs <<= nz;
                    used += nz;
                }
                md.skip(used);
                // A code word running past the granule's bits is not data.
                if (md.pos() > part23End) break;
                q[i] = vals[0];
                q[i + 1] = vals[1];
                q[i + 2] = vals[2];
                q[i + 3] = vals[3];
                i += 4;
            }
            s.nonzero[ch] = i;

            // Requantisation (ISO/IEC 11172-3 2.4.3.4.7):
            // xr = sign(is) |is|^(4/3) 2^((global_gain - 210 - 8 subblock_gain) / 4)
            //      2^-(scalefac_multiplier (scalefac + preflag pretab)).
            float* x = q;
            const int sfShift = g.scalefacScale ? 4 : 2;
            const int base = g.globalGain - 210;
            auto gainOf = [&](int quarter) {
                // 2^(quarter / 4), exact in the power of two.
                const int e4 = quarter >> 2;  // floor division
                return std::ldexp(k.gain[quarter & 3], e4);
            };
            const int nz = s.nonzero[ch];
            auto scaleLines = [&](int from, int to, float gain) {
                if (to > nz) to = nz;
                for (int l = from; l < to; ++l) x[l] *= gain;
            };
            if (!shortBlocks) {
                for (int sfb = 0; sfb < 22 && longBands[sfb] < nz; ++sfb) {
                    const int sf = sfl[sfb] + (g.preflag ? kPretab[sfb] : 0);
                    scaleLines(longBands[sfb], longBands[sfb + 1], gainOf(base - sfShift * sf));
                }
            } else {
                int sfb = 0;
                int line = 0;
                if (g.mixed) {
                    const int longLimit = lsf ? 6 : 8;
                    for (; sfb < longLimit; ++sfb) {
                        const int sf = sfl[sfb] + (g.preflag ? kPretab[sfb] : 0);
                        scaleLines(longBands[sfb], longBands[sfb + 1], gainOf(base - sfShift * sf));
                    }
                    sfb = 3;
                    line = 36;
                }
                for (; sfb < 13 && line < nz; ++sfb) {
                    const int width = shortBands[sfb + 1] - shortBands[sfb];
                    for (int w = 0; w < 3; ++w, line += width) {
                        const int quarter = base - 8 * g.subblockGain[w] - sfShift * sfs[sfb][w];
                        scaleLines(line, line + width, gainOf(quarter));
                    }
                }
            }
            // Lines past the count1 region carry no code: they are zero.
            for (int l = nz; l < 576; ++l) x[l] = 0.0f;
        }
        if (!haveMainData) {
            for (int ch = 0; ch < nch; ++ch) std::memset(s.xr[ch], 0, sizeof s.xr[ch]);
        }

        // Stereo processing (ISO/IEC 11172-3 2.4.3.4.9, ISO/IEC 13818-3 2.4.3.2).
        if (nch == 2 && (msStereo || iStereo) && haveMainData) {
            const GranuleInfo& g1 = s.info[gr][1];
            float* l = s.xr[0];
            float* r = s.xr[1];
            int* isPos = s.isPos;
            for (int j = 0; j < 576; ++j) isPos[j] = kNotIntensity;
            s.rightInfo = &g1;
            if (iStereo) markIntensityLines(s, lsf, longBands, shortBands, isPos);
            int limit = s.nonzero[0] > s.nonzero[1] ? s.nonzero[0] : s.nonzero[1];
            const float invSqrt2 = float(1.0 / std::sqrt(2.0));
            const int intensityScale = g1.scalefacCompress & 1;
            int isTop = limit;
            for (int j = 0; j < 576; ++j) {
                if (isPos[j] >= 0) {  // intensity coded
                    const float m = l[j];
                    float kl, kr;
                    if (lsf) {
                        kl = k.lsfIs[intensityScale][isPos[j] & 31][0];
                        kr = k.lsfIs[intensityScale][isPos[j] & 31][1];
                    } else {
                        const int p = isPos[j] > 6 ? 6 : isPos[j];
                        kl = k.isRatio[p][0];
                        kr = k.isRatio[p][1];
                    }
                    l[j] = m * kl;
                    r[j] = m * kr;
                    if (m != 0.0f && j + 1 > isTop) isTop = j + 1;
                } else if (msStereo && (j < limit || isPos[j] == kIllegalPosition)) {
                    const float m = l[j], sd = r[j];
                    l[j] = (m + sd) * invSqrt2;
                    r[j] = (m - sd) * invSqrt2;
                }
            }
            s.nonzero[0] = s.nonzero[1] = isTop;
        }

        for (int ch = 0; ch < nch; ++ch) {
            const GranuleInfo& g = s.info[gr][ch];
            float* x = s.xr[ch];
            const bool shortBlocks = g.windowSwitching && g.blockType == 2;
            int nz = s.nonzero[ch];

            // Short blocks: from band-window order into window-interleaved
            // order, so subband sb's window w value k sits at 18 sb + 3 k + w.
            if (shortBlocks) {
                int sfb = g.mixed ? 3 : 0;
                int line = g.mixed ? 36 : 0;
                std::memcpy(s.reordered, x, sizeof(float) * size_t(line));
                for (; sfb < 13; ++sfb) {
                    const int start = shortBands[sfb];
                    const int width = shortBands[sfb + 1] - start;
                    for (int w = 0; w < 3; ++w)
                        for (int f = 0; f < width; ++f) s.reordered[3 * (start + f) + w] = x[line + w * width + f];
                    line += 3 * width;
                }
                std::memcpy(x, s.reordered, sizeof s.reordered);
                nz = 576;  // reordering spreads the lines over every subband
                // Shrink back to the last nonzero line.
                while (nz > 0 && x[nz - 1] == 0.0f) --nz;
            }

            // Alias reduction between long-block subbands.
            int sbLimit = (nz + 17) / 18;
            if (!shortBlocks || g.mixed) {
                const int boundaries = shortBlocks ? 1 : (sbLimit < 31 ? sbLimit : 31);
                for (int sb = 1; sb <= boundaries; ++sb) {
                    float* lo = x + 18 * sb - 1;
                    float* hi = x + 18 * sb;
                    for (int i = 0; i < 8; ++i) {
                        const float a = lo[-i], b = hi[i];
                        lo[-i] = a * k.cs[i] - b * k.ca[i];
                        hi[i] = b * k.cs[i] + a * k.ca[i];
                    }
                }
                if (!shortBlocks && sbLimit < 32) ++sbLimit;
                if (shortBlocks && sbLimit < 2) sbLimit = 2;
            }

            // Hybrid filter bank: IMDCT, window, overlap-add.
            for (int sb = 0; sb < 32; ++sb) {
                float* ov = s.overlap[ch][sb];
                float z[36];
                if (sb >= sbLimit) {
                    for (int t = 0; t < 18; ++t) s.hybrid[t][sb] = ov[t];
                    std::memset(ov, 0, sizeof(float) * 18);
                    continue;
                }
                const float* in = x + 18 * sb;
                const int type = (shortBlocks && !(g.mixed && sb < 2)) ? 2 : (g.windowSwitching && !(g.mixed && sb < 2) ? g.blockType : 0);
                if (type != 2) {
                    float y[18] = {};
                    for (int kk = 0; kk < 18; ++kk) {
                        const float v = in[kk];
                        const float* c = k.imdctLong[kk];
                        for (int rI = 0; rI < 18; ++rI) y[rI] += v * c[rI];
                    }
                    // x[17 - i] = -x[i], x[53 - i] = x[i].
                    for (int i = 0; i < 9; ++i) {
                        z[i] = y[i];
                        z[17 - i] = -y[i];
                        z[18 + i] = y[9 + i];
                        z[35 - i] = y[9 + i];
                    }
                    const float* w = k.win[type];
                    for (int i = 0; i < 36; ++i) z[i] *= w[i];
                } else {
                    for (int i = 0; i < 36; ++i) z[i] = 0.0f;
                    const float* w = k.win[2];
                    for (int win = 0; win < 3; ++win) {
                        float y[6] = {};
                        for (int kk = 0; kk < 6; ++kk) {
                            const float v = in[3 * kk + win];
                            const float* c = k.imdctShort[kk];
                            for (int rI = 0; rI < 6; ++rI) y[rI] += v * c[rI];
                        }
                        // 12-point: x[5 - i] = -x[i], x[17 - i] = x[i].
                        float o[12];
                        for (int i = 0; i < 3; ++i) {
                            o[i] = y[i];
                            o[5 - i] = -y[i];
                            o[6 + i] = y[3 + i];
                            o[11 - i] = y[3 + i];
                        }
                        for (int i = 0; i < 12; ++i) z[6 + 6 * win + i] += o[i] * w[i];
                    }
                }
                for (int t = 0; t < 18; ++t) {
                    s.hybrid[t][sb] = z[t] + ov[t];
                    ov[t] = z[18 + t];
                }
            }
            // Frequency inversion of the polyphase filter bank: odd time
            // slots of odd subbands change sign.
            for (int t = 1; t < 18; t += 2)
                for (int sb = 1; sb < 32; sb += 2) s.hybrid[t][sb] = -s.hybrid[t][sb];

            SynthesisFilter* f = filter_[ch];
            if (!f) continue;
            for (int t = 0; t < 18; ++t) {
                f->input_samples(s.hybrid[t]);
                f->calculate_pcm_samples(out_);
            }
        }
    }
}

}  // namespace mp3
