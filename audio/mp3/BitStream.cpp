#include "audio/mp3/BitStream.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "audio/mp3/FrameHeader.h"
#include "dsp/QuorbixError.h"

namespace mp3 {

namespace {

constexpr uint32_t kSyncMask = 0xFFF00000u;
// Sync, version bit and sampling frequency index: what later headers share.
constexpr uint32_t kPatternMask = 0xFFF80C00u;

bool singleChannel(uint32_t h) { return ((h >> 6) & 3) == 3; }

const char* const kGenres[] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical",
    "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "AlternRock",
    "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock",
    "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance",
    "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap",
    "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave",
    "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro",
    "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock", "National Folk", "Swing",
    "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde",
    "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock",
    "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera",
    "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire",
    "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
    "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A capella", "Euro-House",
    "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie", "BritPop",
    "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal", "Black Metal",
    "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa",
    "Thrash Metal", "Anime", "JPop", "SynthPop"};
static_assert(sizeof(kGenres) / sizeof(kGenres[0]) == 148, "the ID3v1 genre list has 148 names");

}  // namespace

BitStream::~BitStream() { close(); }

void BitStream::open(const char* path) {
    close();
    file_ = std::fopen(path, "rb");
    if (!file_) throw "file could not be opened.\n";
    struct stat st;
    if (stat(path, &st) != 0) {
        close();
        throw "file stat failed.\n";
    }
    size_ = int64_t(st.st_size);
    pos_ = 0;
    window_.reset(new uint8_t[kWindowBytes]);
    windowStart_ = 0;
    windowLength_ = 0;
}

void BitStream::openMemory(const uint8_t* data, size_t size) {
    close();
    mem_ = data;
    size_ = int64_t(size);
    pos_ = 0;
}

void BitStream::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    mem_ = nullptr;
    windowStart_ = 0;
    windowLength_ = 0;
}

size_t BitStream::readBytes(uint8_t* dest, size_t n) {
    size_t got = 0;
    if (file_) {
        while (got < n) {
            const int64_t end = windowStart_ + int64_t(windowLength_);
            if (pos_ >= windowStart_ && pos_ < end) {
                const size_t take = std::min(n - got, size_t(end - pos_));
                std::memcpy(dest + got, window_.get() + (pos_ - windowStart_), take);
                got += take;
                pos_ += int64_t(take);
                continue;
            }
            if (pos_ >= size_ || std::fseek(file_, long(pos_), SEEK_SET) != 0) break;
            windowStart_ = pos_;
            windowLength_ = std::fread(window_.get(), 1, kWindowBytes, file_);
            if (windowLength_ == 0) break;
        }
    } else if (mem_ && pos_ < size_) {
        got = size_t(size_ - pos_) < n ? size_t(size_ - pos_) : n;
        std::memcpy(dest, mem_ + pos_, got);
        pos_ += int64_t(got);
    }
    return got;
}

void BitStream::seekTo(int64_t pos) { pos_ = pos < 0 ? 0 : pos; }

void BitStream::resumeLike(const BitStream& other, int64_t pos, FrameHeader& header) {
    tagChecked_ = true;
    firstCandidate_ = false;
    pattern_ = other.pattern_;
    patternSingle_ = other.patternSingle_;
    header.firstFound_ = true;
    frameBits_ = 0;
    bitPos_ = 0;
    seekTo(pos);
}

bool BitStream::findHeader(FrameHeader& header, uint32_t& bits) {
    const bool first = !header.firstFound_;
    bool slid = false;
    uint8_t b[4];
    for (;;) {
        const int64_t at = pos_;
        if (readBytes(b, 4) != 4) return false;
        const uint32_t h = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
        if (firstCandidate_) {
            firstCandidate_ = false;
            if (b[0] == 0xFF && (b[1] & 0xF0) == 0xE0) throw QuorbixError("Format not supported: MPEG 2.5");
        }
        bool valid = first ? (h & kSyncMask) == kSyncMask
                           : (h & kPatternMask) == pattern_ && singleChannel(h) == patternSingle_;
        // Once the search has slid past the expected position, a candidate
        // must also be Layer III or at 44.1/22.05 kHz, which narrows what
        // junk can pass for a header; at the expected position any matching
        // header counts, so clean Layer I/II streams at other rates decode.
        if (valid && slid) valid = ((h >> 10) & 3) == 0 || ((h >> 17) & 3) == 1;
        if (valid) {
            bits = h;
            return true;
        }
        seekTo(at + 1);
        slid = true;
    }
}

bool BitStream::secondSearch(uint32_t& bits) {
    static constexpr uint32_t kPrefixes[] = {0xFFFB9, 0xFFFB8, 0xFFFBA, 0xFFFA9, 0xFFFD8, 0xFFFBB, 0xFFFBE};
    uint8_t pair[2];
    while (readBytes(pair, 2) == 2) {
        if (pair[0] != 0xFF || (pair[1] != 0xFB && pair[1] != 0xFA && pair[1] != 0xFD)) continue;
        seekTo(pos_ - 2);
        uint8_t b[4];
        if (readBytes(b, 4) != 4) return false;
        const uint32_t h = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
        bool known = false;
        for (uint32_t p : kPrefixes) known = known || (h >> 12) == p;
        if (known && ((h >> 10) & 3) <= 2 && ((h >> 12) & 15) <= 14) {
            bits = h;
            return true;
        }
    }
    return false;
}

bool BitStream::readFrame(FrameHeader& header) {
    frameBits_ = 0;
    bitPos_ = 0;
    if (!header.firstFound_ && !tagChecked_) {
        tagChecked_ = true;
        uint8_t t[10];
        const size_t got = readBytes(t, 10);
        if (got == 10 && t[0] == 'I' && t[1] == 'D' && t[2] == '3' && t[3] < 4) {
            // Extended header or not, the tag ends 10 + S bytes in.
            const int64_t s = (int64_t(t[6] & 0x7F) << 21) | (int64_t(t[7] & 0x7F) << 14) |
                              (int64_t(t[8] & 0x7F) << 7) | int64_t(t[9] & 0x7F);
            seekTo(10 + s);
        } else {
            seekTo(0);
        }
    }

    uint32_t bits = 0;
    if (!findHeader(header, bits)) return false;
    if (!header.firstFound_) {
        if (((bits >> 10) & 3) == 3 || ((bits >> 12) & 15) == 15) {
            uint32_t second = 0;
            if (secondSearch(second)) bits = second;
            if (((bits >> 10) & 3) == 3) return false;
        }
        header.firstFound_ = true;
        pattern_ = bits & kPatternMask;
        patternSingle_ = singleChannel(bits);
    }
    header.decode(bits);
    if (header.layer_ == 0) throw "unknown layer identifier found!\n";

    const int remaining = header.frameSize_ - 4;
    if (header.frameSize_ == 0 || remaining < 0 || remaining > kFrameBufferBytes) return false;
    if (readBytes(buffer_, size_t(remaining)) != size_t(remaining)) return false;
    std::memset(buffer_ + remaining, 0, 8);
    frameBits_ = unsigned(remaining) * 8;
    return true;
}

void BitStream::readId3v1(StreamInfo& info) {
    if (size_ < 128) return;
    const int64_t keep = pos_;
    uint8_t tag[128];
    seekTo(size_ - 128);
    const size_t got = readBytes(tag, 128);
    seekTo(keep);
    if (got != 128 || std::memcmp(tag, "TAG", 3) != 0) return;
    info.hasId3v1 = true;
    std::memcpy(info.title, tag + 3, 30);
    std::memcpy(info.artist, tag + 33, 30);
    std::memcpy(info.album, tag + 63, 30);
    std::memcpy(info.year, tag + 93, 4);
    std::memcpy(info.comment, tag + 97, 30);
    info.title[30] = info.artist[30] = info.album[30] = info.comment[30] = info.year[4] = 0;
    info.genre = tag[127] < 148 ? kGenres[tag[127]] : "Unknown";
}

}  // namespace mp3
