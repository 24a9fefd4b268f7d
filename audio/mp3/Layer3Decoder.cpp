#include "audio/mp3/Layer3Decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "audio/mp3/BitStream.h"
#include "audio/mp3/FrameHeader.h"
#include "audio/mp3/MP3Tables.h"
#include "audio/mp3/MainData.h"
#include "audio/mp3/Obuffer.h"
#include "audio/mp3/SynthesisFilter.h"
#include "dsp/MathConstants.h"
#include "dsp/WideClones.h"

namespace mp3 {

namespace {

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
    // Rows i = 0..8 and 18..26 of the 36-point IMDCT, padded with zeros to
    // three 8-lane vectors per line.
    alignas(32) float imdctLong[18][24];
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
        for (auto& line : imdctLong) std::fill(std::begin(line), std::end(line), 0.0f);
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

    bool shortBlocks() const { return windowSwitching && blockType == 2; }
};

// Scale-factor band tables of a header: 0..2 MPEG-1, 3..5 the low rates.
int rateRow(const FrameHeader& h) {
    const int idx = h.sampleFrequency() > 2 ? 0 : h.sampleFrequency();
    return h.version() ? idx : 3 + idx;
}

// Line markers of the stereo stage besides intensity positions 0..31.
constexpr int kNotIntensity = -1;     // below the intensity range
constexpr int kIllegalPosition = -2;  // in the range, but the position is the illegal one

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
    // of ISO/IEC 13818-3), from the channel read last; MPEG-1 uses 7 everywhere.
    int isIllegalLong[22] = {};
    int isIllegalShort[13] = {};

    int isPos[576] = {};
    alignas(32) float xr[2][576] = {};
    alignas(32) float reordered[576] = {};
    int nonzero[2] = {};  // lines of xr that may be nonzero

    alignas(32) float overlap[2][32][18] = {};
    // Subband x time slot, padded to 24 slots for the synthesis, which takes
    // slots eight at a time; the padding stays zero.
    alignas(32) float hybrid[32][24] = {};
};

// What the stages of one frame share: facts of its header and the read
// position in the reservoir.
struct Layer3Decoder::Frame {
    explicit Frame(const FrameHeader& h)
        : lsf(h.version() == 0),
          channels(h.channels()),
          granules(lsf ? 1 : 2),
          longBands(kLongBands[rateRow(h)]),
          shortBands(kShortBands[rateRow(h)]),
          msStereo(h.mode() == FrameHeader::JointStereo && (h.modeExtension() & 2)),
          iStereo(h.mode() == FrameHeader::JointStereo && (h.modeExtension() & 1)),
          headerBytes((h.checksums() ? 2 : 0) + (lsf ? (channels == 1 ? 9 : 17) : (channels == 1 ? 17 : 32))) {}

    const bool lsf;  // the low sampling frequencies of ISO/IEC 13818-3
    const int channels;
    const int granules;
    const int16_t* const longBands;
    const int16_t* const shortBands;
    const bool msStereo;
    const bool iStereo;
    const int headerBytes;  // CRC word and side information

    bool haveMainData = false;  // false when main_data_begin reaches before the reservoir
    MainData md;
    unsigned granuleStart = 0;  // reservoir bit where the next granule's part 2/3 starts
};

Layer3Decoder::Layer3Decoder(SynthesisFilter* f0, SynthesisFilter* f1, Obuffer& out)
    : s_(new State), filter_{f0, f1}, out_(out) {
    constants();
}

Layer3Decoder::~Layer3Decoder() = default;

void Layer3Decoder::decodeFrame(BitStream& stream, const FrameHeader& header) {
    Frame f(header);
    readSideInfo(stream, f);
    appendMainData(stream, f);
    for (int gr = 0; gr < f.granules; ++gr) {
        for (int ch = 0; ch < f.channels; ++ch) decodeGranule(f, gr, ch);
        if (f.channels == 2 && (f.msStereo || f.iStereo) && f.haveMainData) processStereo(f, gr);
        for (int ch = 0; ch < f.channels; ++ch) outputGranule(f, gr, ch);
    }
}

void Layer3Decoder::keepCarriedState() { kept_.reset(new State(*s_)); }

bool Layer3Decoder::carriesKeptStateOf(const Layer3Decoder& early) const {
    if (!early.kept_) return false;
    const State& a = *s_;
    const State& b = *early.kept_;
    // Not compared: the short-block scale factors, the reordering buffer and
    // the illegal intensity positions (a granule writes every entry of these
    // it reads), the intensity positions (rewritten per granule). The
    // reservoir: the next frame keeps at most its last 511 bytes.
    const int tail = std::min(a.reservoirLength, int(State::kReservoirKeep));
    if (tail != std::min(b.reservoirLength, int(State::kReservoirKeep)) ||
        std::memcmp(a.reservoir + a.reservoirLength - tail, b.reservoir + b.reservoirLength - tail, size_t(tail)) != 0)
        return false;
    auto same = [](const auto& x, const auto& y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    for (int gr = 0; gr < 2; ++gr)
        for (int ch = 0; ch < 2; ++ch) {
            const GranuleInfo &x = a.info[gr][ch], &y = b.info[gr][ch];
            if (x.part23Length != y.part23Length || x.bigValues != y.bigValues || x.globalGain != y.globalGain ||
                x.scalefacCompress != y.scalefacCompress || x.windowSwitching != y.windowSwitching ||
                x.blockType != y.blockType || x.mixed != y.mixed || !same(x.tableSelect, y.tableSelect) ||
                !same(x.subblockGain, y.subblockGain) || x.region0Count != y.region0Count ||
                x.region1Count != y.region1Count || x.preflag != y.preflag || x.scalefacScale != y.scalefacScale ||
                x.count1Table != y.count1Table)
                return false;
        }
    return a.mainDataBegin == b.mainDataBegin && same(a.scfsi, b.scfsi) && same(a.scalefacLong, b.scalefacLong) &&
           same(a.nonzero, b.nonzero) && same(a.xr, b.xr) && same(a.overlap, b.overlap);
}

// ---- Side information and the bit reservoir --------------------------------

namespace {

void readGranuleInfo(BitStream& bs, bool lsf, GranuleInfo& g) {
    g.part23Length = int(bs.getBits(12));
    g.bigValues = int(bs.getBits(9));
    g.globalGain = int(bs.getBits(8));
    g.scalefacCompress = int(bs.getBits(lsf ? 9 : 4));
    g.windowSwitching = bs.getBits(1) != 0;
    if (g.windowSwitching) {
        g.blockType = int(bs.getBits(2));
        g.mixed = bs.getBits(1) != 0;
        g.tableSelect[0] = int(bs.getBits(5));
        g.tableSelect[1] = int(bs.getBits(5));
        g.tableSelect[2] = 0;
        for (int w = 0; w < 3; ++w) g.subblockGain[w] = int(bs.getBits(3));
        g.region0Count = (g.blockType == 2 && !g.mixed) ? 8 : 7;
        g.region1Count = 36;  // the rest of the big values
    } else {
        g.blockType = 0;
        g.mixed = false;
        for (int r = 0; r < 3; ++r) g.tableSelect[r] = int(bs.getBits(5));
        for (int w = 0; w < 3; ++w) g.subblockGain[w] = 0;
        g.region0Count = int(bs.getBits(4));
        g.region1Count = int(bs.getBits(3));
    }
    g.preflag = lsf ? 0 : int(bs.getBits(1));
    g.scalefacScale = int(bs.getBits(1));
    g.count1Table = int(bs.getBits(1));
}

}  // namespace

void Layer3Decoder::readSideInfo(BitStream& bs, const Frame& f) {
    State& s = *s_;
    if (f.lsf) {
        s.mainDataBegin = int(bs.getBits(8));
        bs.getBits(f.channels == 1 ? 1 : 2);  // private bits
    } else {
        s.mainDataBegin = int(bs.getBits(9));
        bs.getBits(f.channels == 1 ? 5 : 3);
        for (int ch = 0; ch < f.channels; ++ch)
            for (int g = 0; g < 4; ++g) s.scfsi[ch][g] = int(bs.getBits(1));
    }
    for (int gr = 0; gr < f.granules; ++gr)
        for (int ch = 0; ch < f.channels; ++ch) readGranuleInfo(bs, f.lsf, s.info[gr][ch]);
}

// Appends this frame's main data to the reservoir. The first granule starts
// main_data_begin bytes before it; when that reaches before what the
// reservoir holds (the start of a cut stream), the frame has no main data.
void Layer3Decoder::appendMainData(BitStream& bs, Frame& f) {
    State& s = *s_;
    int mainBytes = bs.frameBytes() - f.headerBytes;
    if (mainBytes < 0) mainBytes = 0;
    if (s.reservoirLength > State::kReservoirKeep) {
        std::memmove(s.reservoir, s.reservoir + s.reservoirLength - State::kReservoirKeep, State::kReservoirKeep);
        s.reservoirLength = State::kReservoirKeep;
    }
    const int before = s.reservoirLength;
    std::memcpy(s.reservoir + before, bs.frameData() + f.headerBytes, size_t(mainBytes));
    s.reservoirLength = before + mainBytes;
    std::memset(s.reservoir + s.reservoirLength, 0, State::kReservoirTail);

    f.haveMainData = s.mainDataBegin <= before;
    f.md.reset(s.reservoir, unsigned(s.reservoirLength));
    f.granuleStart = f.haveMainData ? unsigned(before - s.mainDataBegin) * 8 : 0;
}

// ---- One granule of one channel: scale factors, Huffman, requantisation ----

void Layer3Decoder::decodeGranule(Frame& f, int gr, int ch) {
    State& s = *s_;
    if (!f.haveMainData) {
        s.nonzero[ch] = 0;
        std::memset(s.xr[ch], 0, sizeof s.xr[ch]);
        return;
    }
    f.md.seek(f.granuleStart);
    const unsigned part23End = f.granuleStart + unsigned(s.info[gr][ch].part23Length);
    f.granuleStart = part23End;
    if (f.lsf) readLsfScaleFactors(f, gr, ch);
    else readScaleFactors(f, gr, ch);
    decodeHuffman(f, gr, ch, part23End);
    requantise(f, gr, ch);
}

// MPEG-1 scale factors (ISO/IEC 11172-3 2.4.2.7); with scfsi set, the second
// granule keeps a group of long-block factors from the first.
void Layer3Decoder::readScaleFactors(Frame& f, int gr, int ch) {
    State& s = *s_;
    const GranuleInfo& g = s.info[gr][ch];
    int* sfl = s.scalefacLong[ch];
    int(*sfs)[3] = s.scalefacShort[ch];
    const unsigned slen1 = unsigned(kSlen[g.scalefacCompress][0]), slen2 = unsigned(kSlen[g.scalefacCompress][1]);
    if (g.shortBlocks()) {
        int sfb = 0;
        if (g.mixed) {
            for (; sfb < 8; ++sfb) sfl[sfb] = int(f.md.get(slen1));
            sfb = 3;
        }
        for (; sfb < 12; ++sfb) {
            const unsigned n = sfb < 6 ? slen1 : slen2;
            for (int w = 0; w < 3; ++w) sfs[sfb][w] = int(f.md.get(n));
        }
        sfs[12][0] = sfs[12][1] = sfs[12][2] = 0;
    } else {
        static constexpr int kGroups[5] = {0, 6, 11, 16, 21};
        for (int grp = 0; grp < 4; ++grp) {
            if (gr == 1 && s.scfsi[ch][grp]) continue;
            const unsigned n = grp < 2 ? slen1 : slen2;
            for (int sfb = kGroups[grp]; sfb < kGroups[grp + 1]; ++sfb) sfl[sfb] = int(f.md.get(n));
        }
        sfl[21] = 0;
    }
    for (int b = 0; b < 22; ++b) s.isIllegalLong[b] = 7;
    for (int b = 0; b < 13; ++b) s.isIllegalShort[b] = 7;
}

namespace {

// ISO/IEC 13818-3 2.4.3.2: scalefac_compress selects a block number (the
// row of kNrOfSfb), the bit widths slen1..slen4 and the preflag. The right
// channel of intensity stereo has partitions of its own.
int lsfPartition(int compress, bool intensityChannel, int slen[4], int& preflag) {
    preflag = 0;
    slen[2] = slen[3] = 0;
    if (!intensityChannel) {
        int v = compress;
        if (v < 400) {
            slen[0] = (v >> 4) / 5; slen[1] = (v >> 4) % 5; slen[2] = (v & 15) >> 2; slen[3] = v & 3;
            return 0;
        }
        if (v < 500) {
            v -= 400;
            slen[0] = (v >> 2) / 5; slen[1] = (v >> 2) % 5; slen[2] = v & 3;
            return 1;
        }
        v -= 500;
        slen[0] = v / 3; slen[1] = v % 3;
        preflag = 1;
        return 2;
    }
    int v = compress >> 1;
    if (v < 180) {
        slen[0] = v / 36; slen[1] = (v % 36) / 6; slen[2] = (v % 36) % 6;
        return 3;
    }
    if (v < 244) {
        v -= 180;
        slen[0] = (v % 64) >> 4; slen[1] = (v % 16) >> 2; slen[2] = v % 4;
        return 4;
    }
    v -= 244;
    slen[0] = v / 3; slen[1] = v % 3;
    return 5;
}

}  // namespace

// Scale factors of the low sampling frequencies. Each one's largest value
// (all bits set) is the illegal intensity position of its band.
void Layer3Decoder::readLsfScaleFactors(Frame& f, int gr, int ch) {
    State& s = *s_;
    GranuleInfo& g = s.info[gr][ch];
    int slen[4];
    const int block = lsfPartition(g.scalefacCompress, f.iStereo && ch == 1, slen, g.preflag);
    const int8_t* counts = kNrOfSfb[block][g.shortBlocks() ? (g.mixed ? 2 : 1) : 0];
    int values[39] = {}, illegal[39] = {};
    int n = 0;
    for (int part = 0; part < 4; ++part) {
        for (int i = 0; i < counts[part]; ++i, ++n) {
            values[n] = int(f.md.get(unsigned(slen[part])));
            illegal[n] = (1 << slen[part]) - 1;
        }
    }

    int* sfl = s.scalefacLong[ch];
    int(*sfs)[3] = s.scalefacShort[ch];
    n = 0;
    if (!g.shortBlocks()) {
        for (int sfb = 0; sfb < 21; ++sfb, ++n) sfl[sfb] = values[n], s.isIllegalLong[sfb] = illegal[n];
        sfl[21] = 0;
        s.isIllegalLong[21] = s.isIllegalLong[20];
        return;
    }
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

namespace {

// v with its sign bit set when negative is 1.
inline float withSign(float v, uint32_t negative) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits |= negative << 31;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Ends of the three big-value regions, each coded with its own table.
void regionEnds(const GranuleInfo& g, const int16_t* longBands, int ends[3]) {
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
    ends[0] = region1 > bigEnd ? bigEnd : region1;
    ends[1] = region2 > bigEnd ? bigEnd : region2;
    ends[2] = bigEnd;
}

// Pairs of lines [i, end) of one region as |v|^(4/3) with sign; returns the
// line after the last one written.
int decodeRegion(MainData& md, const HuffmanTable& t, float* q, int i, int end) {
    const float* pow43 = constants().pow43;
    if (t.rootBits == 0) {
        for (; i < end; ++i) q[i] = 0.0f;
        return i;
    }
    const unsigned linbits = t.linbits;
    // Pairs through the register window while it fits, the rest (near the
    // data's end, where positions clamp) through MainData itself.
    BitWindow w(md);
    if (linbits == 0) {
        // No escapes: both sign bits come from one look at the stream.
        auto pair = [&](auto& r) {
            const uint32_t e = huffmanDecode(r, t);
            const int x = int((e >> 12) & 15), y = int((e >> 8) & 15);
            // Branch-free: the sign bits are as good as random.
            const uint32_t signs = r.peek32();
            const unsigned nx = x != 0, ny = y != 0;
            const uint32_t sx = (signs >> 31) & nx;
            const uint32_t sy = ((signs << nx) >> 31) & ny;
            q[i] = withSign(pow43[x], sx);
            q[i + 1] = withSign(pow43[y], sy);
            r.skip(nx + ny);
        };
        for (; i < end && w.fits(); i += 2) pair(w);
        md.seek(w.pos());
        for (; i < end; i += 2) pair(md);
        return i;
    }
    // A value of 15 continues in linbits more bits; then its sign bit.
    auto value = [&](auto& r, int v) {
        if constexpr (std::is_same_v<std::decay_t<decltype(r)>, BitWindow>) r.fill();
        if (v == 15) v += int(r.get(linbits));
        const uint32_t negative = r.get(v != 0);
        return withSign(pow43[v], negative);
    };
    auto pair = [&](auto& r) {
        const uint32_t e = huffmanDecode(r, t);
        q[i] = value(r, int((e >> 12) & 15));
        q[i + 1] = value(r, int((e >> 8) & 15));
    };
    for (; i < end && w.fits(); i += 2) pair(w);
    md.seek(w.pos());
    for (; i < end; i += 2) pair(md);
    return i;
}

// Quadruples of values -1..1 from line i while the granule's bits last;
// returns the end of the nonzero part.
int decodeCount1(MainData& md, const HuffmanTable& quad, float* q, int i, unsigned part23End) {
    // As in decodeRegion: the register window while it fits.
    auto quadruple = [&](auto& r) {
        const uint32_t e = huffmanDecode(r, quad);
        const int vwxy = int((e >> 8) & 15);
        float vals[4];
        uint32_t signs = r.peek32();
        unsigned used = 0;
        for (int j = 0; j < 4; ++j) {
            const unsigned nz = (vwxy >> (3 - j)) & 1;
            vals[j] = withSign(float(nz), (signs >> 31) & nz);
            signs <<= nz;
            used += nz;
        }
        r.skip(used);
        // A code word running past the granule's bits is not data.
        if (r.pos() > part23End) return false;
        for (int j = 0; j < 4; ++j) q[i + j] = vals[j];
        i += 4;
        return true;
    };
    BitWindow w(md);
    bool more = true;
    while (more && i + 4 <= 576 && w.pos() < part23End && w.fits()) more = quadruple(w);
    md.seek(w.pos());
    while (more && i + 4 <= 576 && md.pos() < part23End) more = quadruple(md);
    return i;
}

}  // namespace

// Huffman decoding of the big values, then the count1 quadruples, into xr
// as |is|^(4/3) with sign; requantise scales them.
void Layer3Decoder::decodeHuffman(Frame& f, int gr, int ch, unsigned part23End) {
    State& s = *s_;
    const GranuleInfo& g = s.info[gr][ch];
    float* q = s.xr[ch];
    int ends[3];
    regionEnds(g, f.longBands, ends);
    int i = 0;
    for (int r = 0; r < 3; ++r) i = decodeRegion(f.md, kHuffmanTables[g.tableSelect[r]], q, i, ends[r]);
    s.nonzero[ch] = decodeCount1(f.md, kHuffmanTables[32 + g.count1Table], q, i, part23End);
}

// Requantisation (ISO/IEC 11172-3 2.4.3.4.7):
// xr = sign(is) |is|^(4/3) 2^((global_gain - 210 - 8 subblock_gain) / 4)
//      2^-(scalefac_multiplier (scalefac + preflag pretab)).
void Layer3Decoder::requantise(const Frame& f, int gr, int ch) {
    State& s = *s_;
    const GranuleInfo& g = s.info[gr][ch];
    const Constants& k = constants();
    const int* sfl = s.scalefacLong[ch];
    const int(*sfs)[3] = s.scalefacShort[ch];
    float* x = s.xr[ch];
    const int nz = s.nonzero[ch];
    const int sfShift = g.scalefacScale ? 4 : 2;
    const int base = g.globalGain - 210;
    // 2^(quarter / 4), exact in the power of two (floor division by 4).
    auto gainOf = [&](int quarter) { return std::ldexp(k.gain[quarter & 3], quarter >> 2); };
    auto scaleLines = [&](int from, int to, float gain) {
        if (to > nz) to = nz;
        for (int l = from; l < to; ++l) x[l] *= gain;
    };
    auto scaleLongBand = [&](int sfb) {
        const int sf = sfl[sfb] + (g.preflag ? kPretab[sfb] : 0);
        scaleLines(f.longBands[sfb], f.longBands[sfb + 1], gainOf(base - sfShift * sf));
    };

    if (!g.shortBlocks()) {
        for (int sfb = 0; sfb < 22 && f.longBands[sfb] < nz; ++sfb) scaleLongBand(sfb);
    } else {
        int sfb = 0;
        int line = 0;
        if (g.mixed) {
            for (; sfb < (f.lsf ? 6 : 8); ++sfb) scaleLongBand(sfb);
            sfb = 3;
            line = 36;
        }
        for (; sfb < 13 && line < nz; ++sfb) {
            const int width = f.shortBands[sfb + 1] - f.shortBands[sfb];
            for (int w = 0; w < 3; ++w, line += width)
                scaleLines(line, line + width, gainOf(base - 8 * g.subblockGain[w] - sfShift * sfs[sfb][w]));
        }
    }
    // Lines past the count1 region carry no code: they are zero.
    for (int l = nz; l < 576; ++l) x[l] = 0.0f;
}

// ---- Stereo processing (ISO/IEC 11172-3 2.4.3.4.9, ISO/IEC 13818-3 2.4.3.2) --

void Layer3Decoder::processStereo(const Frame& f, int gr) {
    State& s = *s_;
    const Constants& k = constants();
    float* l = s.xr[0];
    float* r = s.xr[1];
    for (int j = 0; j < 576; ++j) s.isPos[j] = kNotIntensity;
    if (f.iStereo) markIntensityLines(f, gr);
    const int limit = s.nonzero[0] > s.nonzero[1] ? s.nonzero[0] : s.nonzero[1];
    const float invSqrt2 = float(1.0 / std::sqrt(2.0));
    const int intensityScale = s.info[gr][1].scalefacCompress & 1;
    int top = limit;
    for (int j = 0; j < 576; ++j) {
        const int pos = s.isPos[j];
        if (pos >= 0) {  // intensity coded: the left channel carries the sum
            const float* factors = f.lsf ? k.lsfIs[intensityScale][pos & 31] : k.isRatio[pos > 6 ? 6 : pos];
            const float m = l[j];
            l[j] = m * factors[0];
            r[j] = m * factors[1];
            if (m != 0.0f && j + 1 > top) top = j + 1;
        } else if (f.msStereo && (j < limit || pos == kIllegalPosition)) {
            const float m = l[j], sd = r[j];
            l[j] = (m + sd) * invSqrt2;
            r[j] = (m - sd) * invSqrt2;
        }
    }
    s.nonzero[0] = s.nonzero[1] = top;
}

namespace {

// Highest line in [from, to) below rnz where q is nonzero, or -1.
int lastNonzero(const float* q, int rnz, int from, int to) {
    for (int j = (to < rnz ? to : rnz) - 1; j >= from; --j)
        if (q[j] != 0.0f) return j;
    return -1;
}

int positionOf(int value, int illegal) { return value == illegal ? kIllegalPosition : value; }

// The position of the last band, which has no scale factor of its own, from
// the one of the band below it.
int lastBandPosition(int below, bool lsf) { return below == kNotIntensity && lsf ? 0 : below; }

}  // namespace

// Marks the lines of the right channel that are intensity coded (ISO/IEC
// 11172-3 2.4.3.4.9.3, ISO/IEC 13818-3 2.4.3.2): the range starts above the
// highest scale-factor band (per window for short blocks) holding a nonzero
// right-channel line. The last band has no scale factor of its own; it
// follows the band below it. When that band lies below the range, MPEG-1
// leaves the last band ordinary stereo, while the low sampling frequencies
// give it position 0 (both channels the full signal), which is what their
// reference stream l3-test46 decodes to.
void Layer3Decoder::markIntensityLines(const Frame& f, int gr) {
    if (s_->info[gr][1].shortBlocks()) markShortIntensityLines(f, gr);
    else markLongIntensityLines(f);
}

void Layer3Decoder::markShortIntensityLines(const Frame& f, int gr) {
    State& s = *s_;
    const GranuleInfo& g = s.info[gr][1];
    const int firstShort = g.mixed ? 3 : 0;
    int maxSfb = 0;  // over all windows, the first band above the right channel's signal
    for (int w = 0; w < 3; ++w) {
        auto width = [&](int sfb) { return f.shortBands[sfb + 1] - f.shortBands[sfb]; };
        auto start = [&](int sfb) { return 3 * f.shortBands[sfb] + w * width(sfb); };
        auto mark = [&](int sfb, int pos) { std::fill_n(s.isPos + start(sfb), width(sfb), pos); };
        int sfb = 12;
        while (sfb >= firstShort && lastNonzero(s.xr[1], s.nonzero[1], start(sfb), start(sfb) + width(sfb)) < 0) --sfb;
        ++sfb;
        if (sfb > maxSfb) maxSfb = sfb;
        for (; sfb < 12; ++sfb) mark(sfb, positionOf(s.scalefacShort[1][sfb][w], s.isIllegalShort[sfb]));
        mark(12, lastBandPosition(s.isPos[start(11)], f.lsf));
    }
    // The long bands of a mixed block count only when no short band above
    // them holds right-channel signal.
    if (g.mixed && maxSfb <= 3) {
        const int longCount = f.lsf ? 6 : 8;
        const int top = lastNonzero(s.xr[1], s.nonzero[1], 0, 36);
        int sfb = 0;
        while (sfb < longCount && f.longBands[sfb] <= top) ++sfb;
        for (; sfb < longCount; ++sfb) {
            const int pos = positionOf(s.scalefacLong[1][sfb], s.isIllegalLong[sfb]);
            std::fill(s.isPos + f.longBands[sfb], s.isPos + f.longBands[sfb + 1], pos);
        }
    }
}

void Layer3Decoder::markLongIntensityLines(const Frame& f) {
    State& s = *s_;
    const int16_t* bands = f.longBands;
    const int top = lastNonzero(s.xr[1], s.nonzero[1], 0, 576);
    int sfb = 0;
    while (sfb < 21 && bands[sfb] <= top) ++sfb;
    for (; sfb < 21; ++sfb)
        std::fill(s.isPos + bands[sfb], s.isPos + bands[sfb + 1], positionOf(s.scalefacLong[1][sfb], s.isIllegalLong[sfb]));
    if (bands[21] > top) std::fill(s.isPos + bands[21], s.isPos + 576, lastBandPosition(s.isPos[bands[20]], f.lsf));
}

// ---- From lines to samples ---------------------------------------------------

void Layer3Decoder::outputGranule(const Frame& f, int gr, int ch) {
    const int nonzero = reorderShortBlocks(f, gr, ch);
    const int sbLimit = reduceAliases(gr, ch, nonzero);
    hybridSynthesis(gr, ch, sbLimit);
    invertFrequencies();
    polyphase(ch);
}

// Short blocks: from band-window order into window-interleaved order, so
// subband sb's window w value k sits at 18 sb + 3 k + w. Returns the end of
// the nonzero lines afterwards.
int Layer3Decoder::reorderShortBlocks(const Frame& f, int gr, int ch) {
    State& s = *s_;
    const GranuleInfo& g = s.info[gr][ch];
    if (!g.shortBlocks()) return s.nonzero[ch];
    float* x = s.xr[ch];
    int sfb = g.mixed ? 3 : 0;
    int line = g.mixed ? 36 : 0;
    std::memcpy(s.reordered, x, sizeof(float) * size_t(line));
    for (; sfb < 13; ++sfb) {
        const int start = f.shortBands[sfb];
        const int width = f.shortBands[sfb + 1] - start;
        for (int w = 0; w < 3; ++w)
            for (int i = 0; i < width; ++i) s.reordered[3 * (start + i) + w] = x[line + w * width + i];
        line += 3 * width;
    }
    std::memcpy(x, s.reordered, sizeof s.reordered);
    // Reordering spreads the lines over every subband.
    int nz = 576;
    while (nz > 0 && x[nz - 1] == 0.0f) --nz;
    return nz;
}

// Alias reduction across the boundaries of long-block subbands (ISO/IEC
// 11172-3 2.4.3.4.10.1). Returns how many subbands the hybrid synthesis must
// transform: those with nonzero lines plus the one that aliasing reached.
int Layer3Decoder::reduceAliases(int gr, int ch, int nonzero) {
    const GranuleInfo& g = s_->info[gr][ch];
    const Constants& k = constants();
    float* x = s_->xr[ch];
    const bool shortBlocks = g.shortBlocks();
    int sbLimit = (nonzero + 17) / 18;
    if (shortBlocks && !g.mixed) return sbLimit;
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
    return sbLimit;
}

namespace {

// Rows 0..8 and 18..26 of the 36-point IMDCT of N subbands' lines. Each
// row's sum runs over the lines in order, the rows being the vector lanes;
// a row is one chain of dependent additions, so N subbands give the
// processor N independent chains to overlap. Inlined, like imdctShort, so
// that it takes the vector width of the caller's copy.
template <int N>
[[gnu::always_inline]] inline void imdctLongRows(const float* in, float (*y)[24]) {
    const Constants& k = constants();
    Float8 acc[N][3] = {};
    for (int kk = 0; kk < 18; ++kk) {
        const Float8* c = reinterpret_cast<const Float8*>(k.imdctLong[kk]);
        for (int n = 0; n < N; ++n) {
            const float v = in[18 * n + kk];
            for (int j = 0; j < 3; ++j) acc[n][j] += v * c[j];
        }
    }
    std::memcpy(y, acc, sizeof acc);
}

// Three windowed 12-point IMDCTs of interleaved lines, overlapped at 6 + 6 w.
[[gnu::always_inline]] inline void imdctShort(const float* in, float z[36]) {
    const Constants& k = constants();
    for (int i = 0; i < 36; ++i) z[i] = 0.0f;
    const float* w = k.win[2];
    for (int win = 0; win < 3; ++win) {
        float y[6] = {};
        for (int kk = 0; kk < 6; ++kk) {
            const float v = in[3 * kk + win];
            const float* c = k.imdctShort[kk];
            for (int r = 0; r < 6; ++r) y[r] += v * c[r];
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

}  // namespace

// IMDCT of each subband's lines, windowed by its block type, the first half
// added to the previous granule's second half. Subbands from sbLimit on
// carry no lines and give out only what the overlap holds.
VEX_WIDE_CLONES void Layer3Decoder::hybridSynthesis(int gr, int ch, int sbLimit) {
    State& s = *s_;
    const GranuleInfo& g = s.info[gr][ch];
    const float* xr = s.xr[ch];
    auto add = [&](int sb, const float* z) {
        float* ov = s.overlap[ch][sb];
        for (int t = 0; t < 18; ++t) {
            s.hybrid[sb][t] = z[t] + ov[t];
            ov[t] = z[18 + t];
        }
    };
    // A mixed block's two lowest subbands are long ones of type 0.
    auto isShort = [&](int sb) { return g.shortBlocks() && !(g.mixed && sb < 2); };
    auto longType = [&](int sb) { return g.windowSwitching && !(g.mixed && sb < 2) ? g.blockType : 0; };
    // The 36 windowed outputs of a long block come from its 18 rows as
    // x[17 - i] = -x[i] and x[53 - i] = x[i]; they are read in place rather
    // than laid out first.
    auto addLong = [&](int sb, const float* y) {
        const float* w = constants().win[longType(sb)];
        float* ov = s.overlap[ch][sb];
        for (int t = 0; t < 9; ++t) s.hybrid[sb][t] = y[t] * w[t] + ov[t];
        for (int t = 9; t < 18; ++t) s.hybrid[sb][t] = -y[17 - t] * w[t] + ov[t];
        for (int t = 0; t < 9; ++t) ov[t] = y[9 + t] * w[18 + t];
        for (int t = 9; t < 18; ++t) ov[t] = y[26 - t] * w[18 + t];
    };
    float z[36];
    for (int sb = 0; sb < 32;) {
        if (sb >= sbLimit) {
            float* ov = s.overlap[ch][sb];
            for (int t = 0; t < 18; ++t) s.hybrid[sb][t] = ov[t];
            std::memset(ov, 0, sizeof(float) * 18);
            ++sb;
        } else if (isShort(sb)) {
            imdctShort(xr + 18 * sb, z);
            add(sb, z);
            ++sb;
        } else if (sb + 1 < sbLimit && !isShort(sb + 1)) {
            float y[2][24];
            imdctLongRows<2>(xr + 18 * sb, y);
            addLong(sb, y[0]);
            addLong(sb + 1, y[1]);
            sb += 2;
        } else {
            float y[1][24];
            imdctLongRows<1>(xr + 18 * sb, y);
            addLong(sb, y[0]);
            ++sb;
        }
    }
}

// Frequency inversion of the polyphase filter bank: odd time slots of odd
// subbands change sign.
void Layer3Decoder::invertFrequencies() {
    for (int t = 1; t < 18; t += 2)
        for (int sb = 1; sb < 32; sb += 2) s_->hybrid[sb][t] = -s_->hybrid[sb][t];
}

void Layer3Decoder::polyphase(int ch) {
    SynthesisFilter* filter = filter_[ch];
    if (!filter) return;
    filter->calculatePcmPasses(&s_->hybrid[0][0], 24, 18, out_);
}

}  // namespace mp3
