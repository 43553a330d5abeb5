#include "es/alac_config.h"

namespace md {

namespace {

constexpr uint32_t kMaxChannels = 8;

}  // namespace

bool ParseAlacConfig(Bytes config, AlacConfig& out)
{
    if (config.size() < kAlacConfigSize)
        return false;
    const uint32_t version = config[4];
    const uint32_t bitDepth = config[5];
    const uint32_t channels = config[9];
    const uint32_t rate = Be32(config.data() + 20);
    const bool knownDepth = bitDepth == 16 || bitDepth == 20 || bitDepth == 24 || bitDepth == 32;
    if (version != 0 || !knownDepth || channels == 0 || channels > kMaxChannels || rate == 0)
        return false;
    out = {bitDepth, channels, rate};
    return true;
}

}  // namespace md
