// AudioSpecificConfigs written field by field (ISO/IEC 14496-3 1.6.2.1, the GASpecificConfig of 4.4.1 and its
// program_config_element).
#include "es/aac_config.h"

#include <gtest/gtest.h>

#include <string>

#include "support/bit_writer.h"

namespace md {
namespace {

// A program_config_element of the given elements ("S": a single channel element, "C": a channel pair) in front,
// side and back, lfe LFE elements; mixdowns sets the mono, stereo and matrix mixdown flags with their fields.
std::string Pce(const std::string& front, const std::string& side, const std::string& back, int lfe,
                bool mixdowns = false)
{
    const auto n = [](int bits, size_t v) { return std::to_string(bits) + ":" + std::to_string(v) + " "; };
    std::string s = "4:0 2:1 4:3 " + n(4, front.size()) + n(4, side.size()) + n(4, back.size()) + n(2, lfe) +
                    "3:0 4:0 " + (mixdowns ? "1:1 4:0 1:1 4:1 1:1 2:3 1:1 " : "1:0 1:0 1:0 ");
    for (const std::string& group : {front, side, back})
        for (char e : group)
            s += std::string(e == 'C' ? "1:1" : "1:0") + " 4:0 ";
    for (int i = 0; i < lfe; ++i)
        s += "4:0 ";
    return s + "3:0 8:0";  // two associated-data and coupling lists left empty, then the comment length
}

TEST(AacConfig, Channels)
{
    struct Row {
        const char* what;
        std::string fields;
        bool ok;
        uint32_t objectType, rate, configuration, channels;
    };
    // GASpecificConfig: frameLengthFlag, dependsOnCoreCoder (then coreCoderDelay), extensionFlag.
    const std::string lc44k0 = "5:2 4:4 4:0 1:0 1:0 1:0 ";
    const Row rows[] = {
        {"configuration 7 is 7.1", "5:2 4:3 4:7 3:0", true, 2, 48000, 7, 8},
        {"configuration 11 is 6.1", "5:2 4:3 4:11 3:0", true, 2, 48000, 11, 7},
        {"configuration 13 is 22.2", "5:2 4:3 4:13 3:0", true, 2, 48000, 13, 24},
        {"configuration 9 is reserved", "5:2 4:3 4:9 3:0", true, 2, 48000, 9, 0},
        {"sampling index 9: 12 kHz", "5:2 4:9 4:1 3:0", true, 2, 12000, 1, 1},
        // Quad as ffmpeg writes it: one front and one back channel pair.
        {"quad: two channel pairs", lc44k0 + Pce("C", "", "C", 0), true, 2, 44100, 0, 4},
        {"5.1: centre, pair, back pair and LFE", lc44k0 + Pce("SC", "", "C", 1), true, 2, 44100, 0, 6},
        {"mixdown fields before the elements", lc44k0 + Pce("C", "C", "S", 0, true), true, 2, 44100, 0, 5},
        {"a core coder delay before the element", "5:2 4:4 4:0 1:0 1:1 14:0x3FFF 1:0 " + Pce("S", "", "", 0), true, 2,
         44100, 0, 1},
        {"the element cut before its LFE tags", "5:2 4:4 4:0 1:0 1:0 1:0 4:0 2:1 4:3 4:1 4:0 4:0 2:1 3:0 4:0 3:0 1:1",
         true, 2, 44100, 0, 0},
        // SBR: the output rate, then the core's object type; its GASpecificConfig holds the element.
        {"SBR over a programmed core", "5:5 4:6 4:0 4:3 5:2 1:0 1:0 1:0 " + Pce("C", "", "C", 0), true, 5, 48000, 0, 4},
        {"parametric stereo on one channel", "5:29 4:6 4:1 4:3 5:2 3:0", true, 29, 48000, 1, 2},
        // ER AAC ELD (the escape, 32 + 7) has an ELDSpecificConfig, no program_config_element.
        {"no GASpecificConfig", "5:31 6:7 4:3 4:0 1:0 1:0 1:0 " + Pce("C", "", "", 0), true, 39, 48000, 0, 0},
        {"cut inside the explicit rate", "5:2 4:15 7:0", false, 2, 0, 0, 0},
    };
    for (const Row& r : rows) {
        const std::vector<uint8_t> bytes = mdtest::Bits(r.fields);
        AacConfig c;
        EXPECT_EQ(ParseAudioSpecificConfig(bytes, c), r.ok) << r.what;
        if (r.ok) {
            EXPECT_EQ(std::tuple(c.objectType, c.sampleRate, c.channelConfiguration, c.channels),
                      std::tuple(r.objectType, r.rate, r.configuration, r.channels))
                << r.what;
        }
    }
}

}  // namespace
}  // namespace md
