#include "Encoders.h"

#include <FLAC/stream_encoder.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "TestFiles.h"

namespace test {

namespace {

void fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + ": " + path);
}

// The libvorbis/libogg encoder state, torn down in reverse order of set-up.
struct VorbisEncoder {
    vorbis_info vi;
    vorbis_comment vc;
    vorbis_dsp_state vd;
    vorbis_block vb;
    ogg_stream_state os;

    VorbisEncoder(int channels, int rate, float quality, int serial) {
        vorbis_info_init(&vi);
        if (vorbis_encode_init_vbr(&vi, channels, rate, quality) != 0) {
            vorbis_info_clear(&vi);
            throw std::runtime_error("vorbis_encode_init_vbr refused the settings");
        }
        vorbis_comment_init(&vc);
        vorbis_analysis_init(&vd, &vi);
        vorbis_block_init(&vd, &vb);
        ogg_stream_init(&os, serial);
    }
    ~VorbisEncoder() {
        ogg_stream_clear(&os);
        vorbis_block_clear(&vb);
        vorbis_dsp_clear(&vd);
        vorbis_comment_clear(&vc);
        vorbis_info_clear(&vi);
    }
    VorbisEncoder(const VorbisEncoder&) = delete;
    VorbisEncoder& operator=(const VorbisEncoder&) = delete;
};

void writePage(FILE* f, const ogg_page& page) {
    if (std::fwrite(page.header, 1, page.header_len, f) != static_cast<size_t>(page.header_len) ||
        std::fwrite(page.body, 1, page.body_len, f) != static_cast<size_t>(page.body_len))
        throw std::runtime_error("short write of an Ogg page");
}

// Drains finished blocks into packets and packets into pages.
void drain(VorbisEncoder& e, FILE* f) {
    while (vorbis_analysis_blockout(&e.vd, &e.vb) == 1) {
        vorbis_analysis(&e.vb, nullptr);
        vorbis_bitrate_addblock(&e.vb);
        ogg_packet packet;
        while (vorbis_bitrate_flushpacket(&e.vd, &packet)) {
            ogg_stream_packetin(&e.os, &packet);
            ogg_page page;
            while (ogg_stream_pageout(&e.os, &page)) writePage(f, page);
        }
    }
}

}  // namespace

void writeFlac(const std::string& path, const std::vector<int32_t>& samples, int channels,
               int rate, int bitsPerSample) {
    if (channels < 1 || samples.size() % channels != 0)
        fail("sample count is not a whole number of frames", path);
    std::unique_ptr<FLAC__StreamEncoder, decltype(&FLAC__stream_encoder_delete)> enc(FLAC__stream_encoder_new(),
                                                                                   FLAC__stream_encoder_delete);
    if (!enc) fail("FLAC__stream_encoder_new failed", path);
    const uint64_t frames = samples.size() / channels;
    FLAC__StreamEncoder* e = enc.get();
    // Not limited to the streamable subset, so that unusual rates can be written.
    bool ok = FLAC__stream_encoder_set_streamable_subset(e, false) &&
              FLAC__stream_encoder_set_channels(e, channels) &&
              FLAC__stream_encoder_set_bits_per_sample(e, bitsPerSample) &&
              FLAC__stream_encoder_set_sample_rate(e, rate) &&
              FLAC__stream_encoder_set_compression_level(e, 5) &&
              FLAC__stream_encoder_set_total_samples_estimate(e, frames);
    if (!ok) fail("FLAC encoder refused the settings", path);
    const FLAC__StreamEncoderInitStatus init =
        FLAC__stream_encoder_init_file(e, path.c_str(), nullptr, nullptr);
    if (init != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
        fail(std::string("FLAC encoder init: ") + FLAC__StreamEncoderInitStatusString[init], path);
    constexpr uint64_t kChunkFrames = 4096;
    for (uint64_t done = 0; done < frames; done += kChunkFrames) {
        const uint64_t n = std::min(kChunkFrames, frames - done);
        if (!FLAC__stream_encoder_process_interleaved(e, samples.data() + done * channels,
                                                      static_cast<uint32_t>(n)))
            fail(std::string("FLAC encoder: ") +
                     FLAC__StreamEncoderStateString[FLAC__stream_encoder_get_state(e)],
                 path);
    }
    if (!FLAC__stream_encoder_finish(e)) fail("FLAC encoder could not finish", path);
}

void writeFlac(const std::string& path, const std::vector<int16_t>& samples, int channels,
               int rate) {
    writeFlac(path, std::vector<int32_t>(samples.begin(), samples.end()), channels, rate, 16);
}

void writeOggVorbis(const std::string& path, const std::vector<int16_t>& samples, int channels,
                    int rate, float quality, int serial) {
    if (channels < 1 || samples.size() % channels != 0)
        fail("sample count is not a whole number of frames", path);
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) fail("cannot create", path);
    VorbisEncoder enc(channels, rate, quality, serial);

    ogg_packet header, comments, codebooks;
    vorbis_analysis_headerout(&enc.vd, &enc.vc, &header, &comments, &codebooks);
    ogg_stream_packetin(&enc.os, &header);
    ogg_stream_packetin(&enc.os, &comments);
    ogg_stream_packetin(&enc.os, &codebooks);
    // The headers end on their own page, as decoders expect.
    ogg_page page;
    while (ogg_stream_flush(&enc.os, &page)) writePage(file.get(), page);

    const size_t frames = samples.size() / channels;
    constexpr size_t kChunkFrames = 1024;
    for (size_t done = 0; done < frames; done += kChunkFrames) {
        const size_t n = std::min(kChunkFrames, frames - done);
        float** buffer = vorbis_analysis_buffer(&enc.vd, static_cast<int>(n));
        for (size_t i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c)
                buffer[c][i] = samples[(done + i) * channels + c] / 32768.0f;
        vorbis_analysis_wrote(&enc.vd, static_cast<int>(n));
        drain(enc, file.get());
    }
    vorbis_analysis_wrote(&enc.vd, 0);  // end of stream
    drain(enc, file.get());
    while (ogg_stream_flush(&enc.os, &page)) writePage(file.get(), page);
    if (std::fflush(file.get()) != 0) fail("cannot write", path);
}

void setFlacTotalSamples(const std::string& path, uint64_t total) {
    std::vector<uint8_t> bytes = readBytes(path);
    // "fLaC", a 4-byte block header, then STREAMINFO, whose total sits in the
    // low nibble of its byte 13 and the four bytes after it.
    constexpr size_t kField = 4 + 4 + 13;
    if (bytes.size() < kField + 5 || bytes[0] != 'f' || bytes[1] != 'L' || bytes[2] != 'a' ||
        bytes[3] != 'C' || (bytes[4] & 0x7F) != 0)
        fail("not a FLAC file starting with STREAMINFO", path);
    bytes[kField] = static_cast<unsigned char>((bytes[kField] & 0xF0) | ((total >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i)
        bytes[kField + 1 + i] = static_cast<unsigned char>(total >> (24 - 8 * i));
    writeBytes(path, bytes);
}

}  // namespace test
