#include "es/wave_format.h"

#include <algorithm>

namespace md {

bool ParseWaveFormat(Bytes b, WaveFormat& out)
{
    out = {};
    if (!Has(b, 0, 14))
        return false;
    out.formatTag = static_cast<uint16_t>(Le16At(b, 0));
    out.channels = static_cast<uint16_t>(Le16At(b, 2));
    out.sampleRate = Le32At(b, 4);
    out.bytesPerSecond = Le32At(b, 8);
    out.blockAlign = static_cast<uint16_t>(Le16At(b, 12));
    out.bitsPerSample = static_cast<uint16_t>(Le16At(b, 14));
    if (out.channels == 0 || out.sampleRate == 0)
        return false;
    if (!Has(b, 16, 2))
        return true;
    const size_t cbSize = Le16At(b, 16);
    out.extra = b.subspan(18, std::min(cbSize, b.size() - 18));
    // WAVEFORMATEXTENSIBLE: wValidBitsPerSample, dwChannelMask, then the SubFormat GUID, whose first two bytes are
    // the format tag of the samples (KSDATAFORMAT_SUBTYPE_PCM is 00000001-0000-0010-8000-00AA00389B71).
    if (out.formatTag == kWaveFormatExtensible && cbSize >= 22 && Has(b, 18, 22)) {
        out.channelMask = Le32At(b, 20);
        out.formatTag = static_cast<uint16_t>(Le16At(b, 24));
        out.extra = out.extra.subspan(22);
    }
    return true;
}

StreamCodec WaveFormatCodec(uint16_t formatTag)
{
    switch (formatTag) {
    case kWaveFormatPcm: return StreamCodec::PcmLittleEndian;
    case kWaveFormatIeeeFloat: return StreamCodec::PcmFloat;
    case kWaveFormatAlaw: return StreamCodec::Alaw;
    case kWaveFormatMulaw: return StreamCodec::Mulaw;
    case kWaveFormatAdpcm:  // Microsoft ADPCM
    case 0x0011:            // IMA ADPCM
    case 0x0045:            // G.726 ADPCM
    case 0x0200:            // Creative ADPCM
        return StreamCodec::Adpcm;
    case kWaveFormatMpeg:
    case kWaveFormatMpegLayer3: return StreamCodec::Mpeg1Audio;
    case 0x00FF:  // raw AAC
    case 0x1600:  // ADTS AAC
    case 0x706D:  // FAAD AAC
    case 0xA106:  // MPEG-4 AAC
        return StreamCodec::Aac;
    case kWaveFormatAc3: return StreamCodec::Ac3;
    case kWaveFormatDts: return StreamCodec::Dts;
    case 0x000A: return StreamCodec::WmaVoice;
    case 0x0160:  // Windows Media Audio 1
    case 0x0161:  // Windows Media Audio 2
        return StreamCodec::Wma;
    case 0x0162: return StreamCodec::WmaPro;
    case 0x0163: return StreamCodec::WmaLossless;
    default: return StreamCodec::VfwVideo;
    }
}

void SetWaveAudio(const WaveFormat& format, AudioParams& audio)
{
    audio.channels = format.channels;
    audio.sampleRate = format.sampleRate;
    audio.bytesPerSecond = format.bytesPerSecond;
    audio.blockAlign = format.blockAlign;
    const StreamCodec codec = WaveFormatCodec(format.formatTag);
    const bool samples = codec == StreamCodec::PcmLittleEndian || codec == StreamCodec::PcmFloat ||
                         codec == StreamCodec::Alaw || codec == StreamCodec::Mulaw || codec == StreamCodec::Adpcm;
    audio.bitsPerSample = samples ? format.bitsPerSample : 0;
    audio.channelMask = format.channelMask;
}

}  // namespace md
