// ADTS headers written field by field (ISO/IEC 13818-7 6.2).
#include "es/adts_header.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "support/bit_writer.h"

namespace md {
namespace {

std::vector<uint8_t> Adts(int id, int protectionAbsent, int profile, int sampling, int channels, int length, int blocks)
{
    const auto f = [](int bits, int v) { return std::to_string(bits) + ":" + std::to_string(v) + " "; };
    return mdtest::Bits("12:0xFFF " + f(1, id) + "2:0 " + f(1, protectionAbsent) + f(2, profile) + f(4, sampling) +
                        "1:0 " + f(3, channels) + "4:0 " + f(13, length) + "11:0x7FF " + f(2, blocks));
}

// A header followed by the bits of its first raw data block.
std::vector<uint8_t> WithBlock(std::vector<uint8_t> header, std::string_view fields)
{
    const std::vector<uint8_t> block = mdtest::Bits(fields);
    header.insert(header.end(), block.begin(), block.end());
    return header;
}

TEST(Adts, Headers)
{
    // A program_config_element (id_syn_ele 5) of one front and one back channel pair, quad; the same elements as a
    // channel pair element (id 1) are no program.
    const std::string_view quad = "3:5 4:0 2:1 4:4 4:1 4:0 4:1 2:0 3:0 4:0 1:0 1:0 1:0 1:1 4:0 1:1 4:1 3:0 8:0";
    const std::string_view pair = "3:1 4:0 2:1 4:4 4:1 4:0 4:1 2:0 3:0 4:0 1:0 1:0 1:0 1:1 4:0 1:1 4:1 3:0 8:0";
    struct Row {
        std::vector<uint8_t> h;
        bool ok;
        AdtsHeader want;
    } rows[] = {
        // MPEG-4 AAC LC 48 kHz stereo, no CRC; 371 bytes.
        {Adts(0, 1, 1, 3, 2, 371, 0), true, {4, 2, 3, 48000, 2, 2, 371, 7, 1024}},
        // MPEG-2 Main 44.1 kHz mono with the CRC: a 9-byte header.
        {Adts(1, 0, 0, 4, 1, 200, 0), true, {2, 1, 4, 44100, 1, 1, 200, 9, 1024}},
        // Configuration 7 is 7.1 (8 channels); four raw data blocks; 7350 Hz, the last rate of the table.
        {Adts(0, 1, 1, 12, 7, 800, 3), true, {4, 2, 12, 7350, 7, 8, 800, 7, 4096}},
        // Configuration 0: the channels come from the program_config_element opening the raw data block; none
        // follows the header here.
        {Adts(0, 1, 1, 3, 0, 100, 0), true, {4, 2, 3, 48000, 0, 0, 100, 7, 1024}},
        {WithBlock(Adts(0, 1, 1, 4, 0, 100, 0), quad), true, {4, 2, 4, 44100, 0, 4, 100, 7, 1024}},
        {WithBlock(Adts(0, 0, 1, 4, 0, 100, 0), "16:0 " + std::string(quad)), true,
         {4, 2, 4, 44100, 0, 4, 100, 9, 1024}},  // after the CRC
        {WithBlock(Adts(0, 1, 1, 4, 0, 100, 0), pair), true, {4, 2, 4, 44100, 0, 0, 100, 7, 1024}},
        // With a CRC, a frame of two raw data blocks lists their positions before the first: not looked into.
        {WithBlock(Adts(0, 0, 1, 4, 0, 200, 1), "16:0 " + std::string(quad)), true,
         {4, 2, 4, 44100, 0, 0, 200, 9, 2048}},
        // A frame length that ends inside the element: what lies past the frame is not read.
        {WithBlock(Adts(0, 1, 1, 4, 0, 9, 0), quad), true, {4, 2, 4, 44100, 0, 0, 9, 7, 1024}},
        {Adts(0, 1, 1, 13, 2, 371, 0), false, {}},  // a reserved sampling_frequency_index
        {Adts(0, 1, 1, 3, 2, 7, 0), false, {}},     // a frame that is all header
        {Adts(0, 0, 1, 3, 2, 9, 0), false, {}},     // the same with the CRC
    };
    for (const Row& r : rows) {
        AdtsHeader h{};
        EXPECT_EQ(ParseAdtsHeader(r.h.data(), r.h.size(), h), r.ok) << r.want.sampleRate;
        if (!r.ok)
            continue;
        const AdtsHeader& w = r.want;
        EXPECT_EQ(std::tuple(h.mpegVersion, h.objectType, h.samplingIndex, h.sampleRate, h.channelConfiguration,
                             h.channels, h.frameBytes, h.headerBytes, h.samples),
                  std::tuple(w.mpegVersion, w.objectType, w.samplingIndex, w.sampleRate, w.channelConfiguration,
                             w.channels, w.frameBytes, w.headerBytes, w.samples));
    }
    // Layer 01 (an MPEG audio Layer III sync looks like this), a cut header.
    std::vector<uint8_t> layer = Adts(0, 1, 1, 3, 2, 371, 0);
    layer[1] |= 0x02;
    const std::vector<uint8_t> full = Adts(0, 1, 1, 3, 2, 371, 0);
    AdtsHeader h{};
    EXPECT_FALSE(ParseAdtsHeader(layer.data(), layer.size(), h));
    EXPECT_FALSE(ParseAdtsHeader(full.data(), 6, h));
    // 371 bytes of 1024 samples at 48 kHz: 371 x 8 x 48000 / 1024 = 139125 bit/s; over four blocks, a quarter.
    ASSERT_TRUE(ParseAdtsHeader(full.data(), full.size(), h));
    EXPECT_EQ(AdtsFrameBitRate(h), 139125u);
    h.samples *= 4;
    EXPECT_EQ(AdtsFrameBitRate(h), 34781u);  // 34781.25
}

// The speakers of each channel_configuration: front L 0x1, R 0x2, C 0x4, LFE 0x8, back L 0x10, R 0x20, the pair
// left and right of centre 0x40 and 0x80, back centre 0x100.
TEST(Adts, SpeakersOfTheChannelConfiguration)
{
    const std::tuple<uint32_t, uint32_t, const char*> rows[] = {
        {0, 0, "a program_config_element sets the channels"},
        {1, 0, "mono states no speakers"},
        {2, 0, "stereo states no speakers"},
        {3, 0x1 | 0x2 | 0x4, "C L R"},
        {4, 0x1 | 0x2 | 0x4 | 0x100, "C L R, rear centre"},
        {5, 0x1 | 0x2 | 0x4 | 0x10 | 0x20, "C L R Ls Rs"},
        {6, 0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x20, "5.1"},
        {7, 0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x20 | 0x40 | 0x80, "7.1: the outer front pair"},
        {8, 0, "no configuration 8"},
    };
    for (const auto& [configuration, mask, what] : rows)
        EXPECT_EQ(AacChannelConfigurationMask(configuration), mask) << what;
}

}  // namespace
}  // namespace md
