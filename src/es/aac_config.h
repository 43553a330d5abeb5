// The AudioSpecificConfig of MPEG-4 audio (ISO/IEC 14496-3 1.6.2.1), as MP4 'esds' and FLV sequence headers carry
// it, and the channel count a channelConfiguration stands for, which ADTS headers share.
#pragma once

#include <cstdint>

#include "es/bit_reader.h"
#include "input/bytes.h"

namespace md {

// The channels of a channelConfiguration (ISO/IEC 14496-3 Table 1.19 with the values of later amendments): 1 to 6
// are that many, 7 is 7.1 (eight), 11 is 6.1, 12 and 14 are 7.1 again, 13 is 22.2. 0 for configuration 0 (a
// program_config_element gives them) and the reserved values.
uint32_t AacConfigurationChannels(uint32_t channelConfiguration);

// The channels of the program_config_element (ISO/IEC 14496-3 4.4.1.1) that starts at the reader: its front, side and
// back elements (a channel pair counts two) and its LFE elements. 0 when the element is cut short before its LFE tags.
uint32_t ReadProgramConfigChannels(BitReader& in);

// What an AudioSpecificConfig states: the first audioObjectType; the sampling rate, the output rate of explicitly
// signalled SBR; the channels of its channelConfiguration, two for parametric stereo on one, and with
// configuration 0 those of the program_config_element of the GASpecificConfig (each single channel and LFE element
// one, each channel pair two); 0 when neither says.
struct AacConfig {
    uint32_t objectType = 0;
    uint32_t sampleRate = 0;
    uint32_t channelConfiguration = 0;
    uint32_t channels = 0;
};

// False when the fields up to the channelConfiguration (and the SBR rate and core object type that follow it for
// object types 5 and 29) run past the config, or the object type or the rate is 0. A program_config_element cut
// short leaves the channels 0.
bool ParseAudioSpecificConfig(Bytes config, AacConfig& out);

}  // namespace md
