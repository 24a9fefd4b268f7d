#pragma once
#include <cstdint>

namespace mp3 {

// Output collector of decoded samples.
class Obuffer {
public:
    virtual ~Obuffer() = default;
    virtual void append(int channel, int16_t sample) = 0;
    virtual void frameEnded() {}
};

}  // namespace mp3
