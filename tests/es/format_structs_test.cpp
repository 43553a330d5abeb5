// WAVEFORMATEX (and its EXTENSIBLE form) and BITMAPINFOHEADER, and the codecs their tags and FourCCs name.
#include <gtest/gtest.h>

#include "es/bitmap_info.h"
#include "es/wave_format.h"
#include "support/audio_files.h"

namespace {

using Bytes = std::vector<uint8_t>;

using mdtest::Le;

TEST(WaveFormat, TagsLayoutAndExtensibleSubFormat)
{
    const Bytes pcm = mdtest::Cut(mdtest::WaveFormatEx(1, 2, 44100, 176400, 4, 16), 16);
    md::WaveFormat f;
    ASSERT_TRUE(md::ParseWaveFormat(pcm, f));  // a 16-byte PCMWAVEFORMAT: no cbSize
    EXPECT_EQ(std::tuple(f.formatTag, f.channels, f.sampleRate, f.blockAlign, f.bitsPerSample, f.extra.size()),
              std::tuple(uint16_t(1), uint16_t(2), 44100u, uint16_t(4), uint16_t(16), size_t(0)));

    // Float samples, 5.1 with side speakers; one byte past the extension, inside no cbSize.
    const Bytes extension = mdtest::Concat({Le(20, 2), Le(0x60F, 4), Le(3, 2), Bytes(14)});
    const Bytes ext = mdtest::Concat({mdtest::WaveFormatEx(0xFFFE, 2, 44100, 176400, 4, 16, extension), Bytes{0xAB}});
    ASSERT_TRUE(md::ParseWaveFormat(ext, f));
    EXPECT_EQ(std::tuple(f.formatTag, f.channelMask, f.extra.size()), std::tuple(uint16_t(3), 0x60Fu, size_t(0)));

    const Bytes cut = mdtest::Concat({pcm, Le(100, 2), Bytes{7}});  // cbSize claims more than there is
    ASSERT_TRUE(md::ParseWaveFormat(cut, f));
    EXPECT_EQ(f.extra.size(), 1u);
    EXPECT_FALSE(md::ParseWaveFormat(Bytes(pcm.begin(), pcm.begin() + 13), f));
    Bytes silent = pcm;
    silent[2] = 0;  // no channels
    EXPECT_FALSE(md::ParseWaveFormat(silent, f));

    using C = md::StreamCodec;
    for (const auto& [tag, codec] : {std::pair{0x0001, C::PcmLittleEndian}, {0x0003, C::PcmFloat}, {0x0006, C::Alaw},
                                     {0x0007, C::Mulaw}, {0x0011, C::Adpcm}, {0x0050, C::Mpeg1Audio},
                                     {0x0055, C::Mpeg1Audio}, {0x00FF, C::Aac}, {0x2000, C::Ac3}, {0x2001, C::Dts},
                                     {0x0161, C::Wma}, {0x0162, C::WmaPro}, {0x0163, C::WmaLossless},
                                     {0x000A, C::WmaVoice}, {0x1234, C::VfwVideo}})
        EXPECT_EQ(md::WaveFormatCodec(uint16_t(tag)), codec) << std::hex << tag;
}

TEST(BitmapInfo, SizesFourCCsAndCodecs)
{
    using mdtest::BitmapInfoHeader;
    md::BitmapInfo info;
    // A top-down picture; the bytes after biSize are not its extra bytes.
    ASSERT_TRUE(md::ParseBitmapInfo(mdtest::Concat({BitmapInfoHeader(320, -240, "xvid"), Bytes(2, 0x55)}), info));
    EXPECT_EQ(std::tuple(info.width, info.height, info.bitCount, info.extra.size()),
              std::tuple(320u, 240u, uint16_t(24), size_t(0)));
    EXPECT_EQ(md::BitmapCodec(info.compression), md::StreamCodec::Mpeg4Video);
    ASSERT_TRUE(md::ParseBitmapInfo(BitmapInfoHeader(320, 240, "H264", Bytes(4, 0x55)), info));
    EXPECT_EQ(std::tuple(info.extra.size(), md::BitmapCodec(info.compression)),
              std::tuple(size_t(4), md::StreamCodec::H264Ts));
    Bytes small = BitmapInfoHeader(320, 240, "H264");
    small[0] = 36;  // biSize below the header's 40 bytes
    EXPECT_FALSE(md::ParseBitmapInfo(small, info));
    EXPECT_FALSE(md::ParseBitmapInfo(BitmapInfoHeader(0, 240, "H264"), info));

    using C = md::StreamCodec;
    for (const auto& [fourCC, codec] : {std::pair{"DIV3", C::MsMpeg4}, {"MJPG", C::Jpeg}, {"dvsd", C::DvVideo},
                                        {"HFYU", C::HuffYuv}, {"WMV3", C::Wmv}, {"WVC1", C::Vc1}, {"mpg2", C::Mpeg2Video},
                                        {"YV12", C::RawVideo}, {"zzzz", C::VfwVideo}})
        EXPECT_EQ(md::BitmapCodec(md::FourCC(*reinterpret_cast<const char(*)[5]>(fourCC))), codec) << fourCC;
    EXPECT_EQ(md::BitmapCodec(0), C::RawVideo);  // BI_RGB
}

}  // namespace
