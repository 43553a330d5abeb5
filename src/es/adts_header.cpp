#include "es/adts_header.h"

#include <algorithm>
#include <array>

#include "es/aac_config.h"

namespace md {
namespace {

// The id_syn_ele of a program_config_element in a raw data block (ISO/IEC 14496-3 Table 4.85).
constexpr uint32_t kProgramConfigElement = 5;

}  // namespace

bool ParseAdtsHeader(const uint8_t* p, size_t len, AdtsHeader& header)
{
    header = {};
    if (!p || len < 7 || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0)  // syncword, layer 00
        return false;
    // ISO/IEC 14496-3 Table 1.18, indexes 0..12; 13 and 14 are reserved, 15 (an explicit rate) ADTS cannot carry.
    static constexpr std::array<uint32_t, 13> kRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                        22050, 16000, 12000, 11025, 8000,  7350};
    header.samplingIndex = (p[2] >> 2) & 0x0F;
    if (header.samplingIndex >= kRates.size())
        return false;
    header.mpegVersion = (p[1] & 0x08) ? 2 : 4;
    header.objectType = (p[2] >> 6) + 1;
    header.sampleRate = kRates[header.samplingIndex];
    header.channelConfiguration = uint32_t(p[2] & 1) << 2 | p[3] >> 6;
    header.channels = AacConfigurationChannels(header.channelConfiguration);
    header.frameBytes = uint32_t(p[3] & 0x03) << 11 | uint32_t(p[4]) << 3 | p[5] >> 5;
    header.headerBytes = (p[1] & 1) ? 7 : 9;
    const uint32_t blocks = (p[6] & 0x03) + 1;
    header.samples = 1024 * blocks;
    if (header.frameBytes <= header.headerBytes)
        return false;  // a raw data block holds at least its END element
    // Without a channel configuration the first raw data block opens with the program_config_element that sets the
    // channels. It follows the header directly unless a CRC frame of several blocks lists their positions first.
    if (header.channelConfiguration == 0 && (header.headerBytes == 7 || blocks == 1) && len > header.headerBytes) {
        const size_t end = std::min<size_t>(len, header.frameBytes);
        BitReader in(p + header.headerBytes, end - header.headerBytes);
        if (in.Bits(3) == kProgramConfigElement)
            header.channels = ReadProgramConfigChannels(in);
    }
    return true;
}

uint32_t AacChannelConfigurationMask(uint32_t channelConfiguration)
{
    constexpr std::array<uint32_t, 8> kMasks = {0, 0, 0, 0x7, 0x107, 0x37, 0x3F, 0xFF};
    return channelConfiguration < kMasks.size() ? kMasks[channelConfiguration] : 0;
}

uint32_t AdtsFrameBitRate(const AdtsHeader& header)
{
    if (header.samples == 0)
        return 0;
    return static_cast<uint32_t>(uint64_t(header.frameBytes) * 8 * header.sampleRate / header.samples);
}

}  // namespace md
