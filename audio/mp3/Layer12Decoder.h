#pragma once

namespace mp3 {

class BitStream;
class FrameHeader;
class SynthesisFilter;
class Obuffer;

// Decodes one Layer I or Layer II frame whose header (and CRC word, when
// present) has been read: allocation, scale factors and samples from the
// stream's frame buffer, 32 output samples per channel per pass through the
// synthesis filters into out. f1 is null for a single-channel stream.
void decodeLayer12Frame(BitStream& stream, const FrameHeader& header,
                        SynthesisFilter* f0, SynthesisFilter* f1, Obuffer& out);

}  // namespace mp3
