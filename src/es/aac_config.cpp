#include "es/aac_config.h"

#include <array>

namespace md {
namespace {

// Object types 5 (SBR) and 29 (parametric stereo) signal their extension explicitly: the output rate follows the
// channelConfiguration, then the core's own object type.
constexpr uint32_t kSbr = 5;
constexpr uint32_t kParametricStereo = 29;

// audioObjectType with its escape: 31 is 32 plus the next six bits.
uint32_t ReadObjectType(BitReader& in)
{
    const uint32_t type = in.Bits(5);
    return type == 31 ? 32 + in.Bits(6) : type;
}

// samplingFrequencyIndex; 15 is a 24-bit rate of its own. 0 for the reserved indexes 13 and 14.
uint32_t ReadSamplingFrequency(BitReader& in)
{
    static constexpr std::array<uint32_t, 13> kRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                        22050, 16000, 12000, 11025, 8000,  7350};
    const uint32_t index = in.Bits(4);
    if (index == 15)
        return in.Bits(24);
    return index < kRates.size() ? kRates[index] : 0;
}

// The object types whose specific config is a GASpecificConfig (ISO/IEC 14496-3 1.6.2.1): AAC Main, LC, SSR, LTP,
// Scalable, TwinVQ and their error-resilient forms.
bool HasGaSpecificConfig(uint32_t objectType)
{
    switch (objectType) {
    case 1: case 2: case 3: case 4: case 6: case 7:
    case 17: case 19: case 20: case 21: case 22: case 23: return true;
    default: return false;
    }
}

}  // namespace

uint32_t ReadProgramConfigChannels(BitReader& in)
{
    in.Skip(4 + 2 + 4);  // element_instance_tag, object_type, sampling_frequency_index
    const uint32_t front = in.Bits(4);
    const uint32_t side = in.Bits(4);
    const uint32_t back = in.Bits(4);
    const uint32_t lfe = in.Bits(2);
    in.Skip(3 + 4);  // num_assoc_data_elements, num_valid_cc_elements
    if (in.Bit())    // mono_mixdown_present: mono_mixdown_element_number
        in.Skip(4);
    if (in.Bit())    // stereo_mixdown_present: stereo_mixdown_element_number
        in.Skip(4);
    if (in.Bit())    // matrix_mixdown_idx_present: matrix_mixdown_idx, pseudo_surround_enable
        in.Skip(3);
    uint32_t channels = 0;
    for (uint32_t i = 0; i < front + side + back; ++i) {
        channels += in.Bit() ? 2 : 1;  // *_element_is_cpe
        in.Skip(4);                    // *_element_tag_select
    }
    in.Skip(4 * size_t(lfe));  // lfe_element_tag_select
    return in.Overrun() ? 0 : channels + lfe;
}

uint32_t AacConfigurationChannels(uint32_t channelConfiguration)
{
    static constexpr std::array<uint32_t, 16> kChannels = {0, 1, 2, 3, 4, 5, 6, 8, 0, 0, 0, 7, 8, 24, 8, 0};
    return channelConfiguration < kChannels.size() ? kChannels[channelConfiguration] : 0;
}

bool ParseAudioSpecificConfig(Bytes config, AacConfig& out)
{
    out = {};
    BitReader in(config.data(), config.size());
    out.objectType = ReadObjectType(in);
    out.sampleRate = ReadSamplingFrequency(in);
    out.channelConfiguration = in.Bits(4);
    out.channels = AacConfigurationChannels(out.channelConfiguration);
    uint32_t coreType = out.objectType;
    if (out.objectType == kSbr || out.objectType == kParametricStereo) {
        if (const uint32_t extensionRate = ReadSamplingFrequency(in); extensionRate != 0)
            out.sampleRate = extensionRate;
        coreType = ReadObjectType(in);
    }
    if (in.Overrun() || out.objectType == 0 || out.sampleRate == 0)
        return false;
    if (out.channelConfiguration == 0 && HasGaSpecificConfig(coreType)) {
        // GASpecificConfig: frameLengthFlag, dependsOnCoreCoder (then a 14-bit coreCoderDelay), extensionFlag, then
        // the program_config_element.
        in.Skip(1);
        if (in.Bit())
            in.Skip(14);
        in.Skip(1);
        out.channels = ReadProgramConfigChannels(in);
    }
    if (out.objectType == kParametricStereo && out.channels == 1)
        out.channels = 2;
    return true;
}

}  // namespace md
