// The ADTS frame header of AAC (ISO/IEC 13818-7 6.2 and ISO/IEC 14496-3 1.A.2.2): a 12-bit syncword 0xFFF, ID,
// layer 00, protection_absent, profile_ObjectType, sampling_frequency_index, channel_configuration, a 13-bit
// aac_frame_length (header included) and number_of_raw_data_blocks_in_frame; a 16-bit CRC follows when
// protection_absent is 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace md {

struct AdtsHeader {
    uint32_t mpegVersion;           // 4 (ID 0) or 2 (ID 1)
    uint32_t objectType;            // MPEG-4 audio object type: profile_ObjectType + 1 (2 = AAC LC)
    uint32_t samplingIndex;         // sampling_frequency_index
    uint32_t sampleRate;            // Hz
    uint32_t channelConfiguration;  // 0: the channels are set by a program_config_element
    // From channel_configuration (7 is 7.1: 8 channels); for configuration 0 from the program_config_element that
    // opens the frame's first raw data block, 0 when the bytes given do not hold it.
    uint32_t channels;
    uint32_t frameBytes;            // aac_frame_length
    uint32_t headerBytes;           // 7, or 9 with the CRC
    uint32_t samples;               // 1024 per raw data block
};

// False for another sync or layer, the reserved sampling_frequency_index 13..15, an aac_frame_length no longer than
// the header, and fewer than 7 bytes.
bool ParseAdtsHeader(const uint8_t* p, size_t len, AdtsHeader& header);

// The speakers (WAVEFORMATEXTENSIBLE bits) of a channel_configuration of 3 to 7 (ISO/IEC 14496-3 Table 1.19): C L
// R; C L R, rear centre; C L R Ls Rs; C L R Ls Rs LFE; C, L R of centre, L R, Ls Rs, LFE (the surrounds as back
// speakers, as AC-3 masks have them; the outer front pair of 7 as the wide pair). 0 for mono and stereo, which
// state no speakers, and for configuration 0 (a program_config_element).
uint32_t AacChannelConfigurationMask(uint32_t channelConfiguration);

// The bit rate of one frame, bit/s: its bytes over its samples at its rate, truncated.
uint32_t AdtsFrameBitRate(const AdtsHeader& header);

}  // namespace md
