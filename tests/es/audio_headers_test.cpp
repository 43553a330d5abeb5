// Hand-written frame headers (field boundaries marked in the literals); values from ISO/IEC 11172-3, A/52, TS 102 114.
#include "es/audio_headers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/audio_files.h"

namespace md {
namespace {

using Frame = std::vector<uint8_t>;
using mdtest::DtsCoreStart;
using mdtest::DtsHdSubstreamStart;
uint32_t Len(const Frame& f) { return static_cast<uint32_t>(f.size()); }

TEST(AudioMpeg, Headers)
{
    AudioFormat fmt{};
    MpegAudioInfo info{};
    // Bit rates of 11172-3 2.4.2.3 by layer; at 48 kHz a frame is 4 * (12 * rate / 48000) bytes or 144 * rate / 48000.
    const uint32_t kbps[3][14] = {{32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
                                  {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
                                  {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};
    for (uint32_t i = 0; i < 42; ++i) {
        const uint32_t layer = i / 14, index = i % 14 + 1, rate = kbps[layer][index - 1] * 1000;
        const uint8_t f[] = {0xFF, uint8_t(0xF9 | (3 - layer) << 1), uint8_t(index << 4 | 0b01'00), 0};
        ASSERT_TRUE(ParseMpegAudioHeader(f, 4, fmt, info));
        EXPECT_EQ(std::tuple(info.bitRate, fmt.bytesPerSecond, fmt.blockAlign, fmt.sampleRate, fmt.channels),
                  std::tuple(rate, rate / 8, layer == 0 ? 4 * (12 * rate / 48000) : 144 * rate / 48000, 48000u, 2u))
            << "layer index " << layer << ", " << index;
    }
    // Reserved layer, sampling_frequency 3, bitrate_index 15; MPEG-2.5's sync 0xFFE is not a sync.
    for (const Frame& f : {Frame{0xFF, 0xF9, 0xA4, 0}, Frame{0xFF, 0xFD, 0b1010'11'00, 0}, Frame{0xFF, 0xFD, 0xF4, 0}})
        EXPECT_FALSE(ParseMpegAudioHeader(f.data(), Len(f), fmt, info));
    EXPECT_FALSE(IsMpegAudioSync(Frame{0xFF, 0xE3}.data(), 2));
    // LSF (ID 0) sampling rates halve; index 9 of LSF Layer III reads the MPEG-1 table (128, not 80).
    const uint8_t lsf[][4] = {{0xFF, 0xF3, 0b1001'00'00, 0}, {0xFF, 0xF5, 0b0000'10'00, 0}, {0xFF, 0xFD, 0b11'00, 0}};
    ASSERT_TRUE(ParseMpegAudioHeader(lsf[0], 4, fmt, info));
    EXPECT_EQ(std::tuple(fmt.sampleRate, info.bitRate, MpegAudioSampleRate(lsf[1], 3), MpegAudioSampleRate(lsf[2], 3),
                         MpegAudioSampleRate(lsf[1], 2)),
              std::tuple(22050u, 128000u, 16000u, 44100u, 0u));
}

// syncinfo and the start of bsi: sync, crc1, fscod|frmsizecod, bsid|bsmod, acmod byte, next byte.
Frame Ac3(uint8_t fscodFrmsizecod, uint8_t acmodByte = 0x40)
{
    return {0x0B, 0x77, 0x12, 0x34, fscodFrmsizecod, 0b01000'000, acmodByte, 0xFF};
}

TEST(AudioAc3, Headers)
{
    AudioFormat fmt{};
    Ac3Info info{};
    uint32_t words = 0;
    // Byte-swapped: 48 kHz, frmsizecod 30 (448 kbit/s: 896 words); bsid 8; acmod 7, lfeon 1.
    const uint8_t swapped[] = {0x77, 0x0B, 0x34, 0x12, 0b01000'000, 0b00'011110, 0xA5, 0b111'01'01'1};
    ASSERT_TRUE(ParseAc3Header(swapped, 8, fmt, info, words));
    EXPECT_EQ(std::tuple(fmt.sampleRate, words, fmt.channels, info.acmod, info.lfeon, info.bsid),
              std::tuple(48000u, 896u, 6u, 7u, 1u, 8u));
    // lfeon after cmixlev (acmod 3, 5, 7), surmixlev (4..7), dsurmod (2); decoy 1 bits where a wrong position reads.
    const uint32_t modes[][4] = {{0b000'0'1111, 0, 0, 2},  {0b001'1'0000, 1, 1, 2},  {0b010'11'0'11, 2, 0, 2},
                                 {0b010'00'1'00, 2, 1, 3}, {0b011'00'1'00, 3, 1, 4}, {0b100'11'0'11, 4, 0, 3},
                                 {0b101'00'00'1, 5, 1, 5}, {0b110'00'1'00, 6, 1, 5}};
    for (const auto& m : modes) {
        ASSERT_TRUE(ParseAc3Header(Ac3(0b00'011110, uint8_t(m[0])).data(), 8, fmt, info, words));
        EXPECT_EQ(std::tuple(info.acmod, info.lfeon, fmt.channels), std::tuple(m[1], m[2], m[3])) << m[0];
    }
    // A/52 bit rate by frmsizecod / 2; words = kbps * 1000 * 1536 / (16 * fs), at 44.1 kHz plus the odd code's word.
    const uint32_t kbps[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
    const uint32_t rates[] = {48000, 44100, 32000};
    for (uint32_t i = 0; i < 3 * 38; ++i) {
        const uint32_t fscod = i / 38, code = i % 38, k = kbps[code / 2];
        ASSERT_TRUE(ParseAc3Header(Ac3(uint8_t(fscod << 6 | code)).data(), 8, fmt, info, words));
        EXPECT_EQ(std::tuple(fmt.bytesPerSecond, words, fmt.sampleRate, fmt.blockAlign),
                  std::tuple(k * 125, fscod == 1 ? k * 96000 / 44100 + (code & 1) : k * 96000 / rates[fscod],
                             rates[fscod], k * 125 * 1536 / rates[fscod]))
            << "fscod " << fscod << " frmsizecod " << code;
    }
    // Reserved fscod 3: 48 kHz and no frame size. frmsizecod 38 and 63, a wrong sync.
    ASSERT_TRUE(ParseAc3Header(Ac3(0b11'011110).data(), 8, fmt, info, words));
    EXPECT_EQ(std::tuple(fmt.sampleRate, words), std::tuple(48000u, 0u));
    for (const Frame& f : {Ac3(38), Ac3(0b10'111111), Frame{0x0B, 0x78, 0, 0, 0x1E, 0x40, 0x40, 0}})
        EXPECT_FALSE(ParseAc3Header(f.data(), Len(f), fmt, info, words));
}

TEST(AudioEac3, Headers)
{
    // syncword, strmtyp, substreamid, frmsiz, fscod, fscod2 or numblkscod, acmod, lfeon, bsid (A/52 E.1.2.2).
    const auto eac3 = [](uint32_t strmtyp, uint32_t frmsiz, uint32_t fscod, uint32_t code2, uint32_t acmod,
                         uint32_t lfeon, uint32_t bsid) {
        return mdtest::Bits("16:0x0B77 2:" + std::to_string(strmtyp) + " 3:5 11:" + std::to_string(frmsiz) + " 2:" +
                            std::to_string(fscod) + " 2:" + std::to_string(code2) + " 3:" + std::to_string(acmod) +
                            " 1:" + std::to_string(lfeon) + " 5:" + std::to_string(bsid) + " 3:0");
    };
    struct Case {
        Frame frame;
        uint32_t channels, rate, frameBytes, blocks, bytesPerSecond;
    };
    // Bytes per second: frame bytes x rate / (blocks x 256 samples).
    const Case cases[] = {
        {eac3(0, 255, 0, 3, 2, 0, 16), 2, 48000, 512, 6, 16000},  // 2/0 at 48 kHz, 6 blocks: 128 kbit/s
        {eac3(2, 383, 3, 1, 7, 1, 16), 6, 22050, 768, 6, 11025},  // 3/2 + LFE, fscod2 1: 22.05 kHz, always 6 blocks
        {eac3(0, 127, 3, 0, 2, 0, 16), 2, 24000, 256, 6, 4000},   // fscod2 0: 24 kHz
        {eac3(0, 63, 1, 0, 1, 0, 11), 1, 44100, 128, 1, 22050},   // 1/0, 44.1 kHz, 1 block, bsid 11
        {eac3(1, 95, 2, 2, 0, 1, 16), 3, 32000, 192, 3, 8000},    // dependent 1+1 + LFE, 32 kHz, 3 blocks
    };
    for (const Case& c : cases) {
        AudioFormat fmt{};
        Eac3Info info{};
        ASSERT_TRUE(ParseEac3Header(c.frame.data(), Len(c.frame), fmt, info)) << c.rate;
        EXPECT_EQ(std::tuple(fmt.channels, fmt.sampleRate, info.frameBytes, fmt.blockAlign, info.blocks,
                             fmt.bytesPerSecond, info.substreamid),
                  std::tuple(c.channels, c.rate, c.frameBytes, c.frameBytes, c.blocks, c.bytesPerSecond, 5u));
    }
    // AC-3 (bsid 8) and bsid 17, the reserved fscod2, another syncword, five bytes.
    AudioFormat fmt{};
    Eac3Info info{};
    Frame wrongSync = eac3(0, 255, 0, 3, 2, 0, 16);
    wrongSync[1] = 0x78;
    for (const Frame& f : {eac3(0, 255, 0, 3, 2, 0, 8), eac3(0, 255, 0, 3, 2, 0, 17), eac3(0, 255, 3, 3, 2, 0, 16),
                           wrongSync})
        EXPECT_FALSE(ParseEac3Header(f.data(), Len(f), fmt, info));
    EXPECT_FALSE(ParseEac3Header(eac3(0, 255, 0, 3, 2, 0, 16).data(), 5, fmt, info));
}

TEST(AudioEac3, DependentChannelMap)
{
    // 48 kHz, six blocks, 512 bytes, LFE on (the support builder's bsi layout up to chanmap).
    const auto frame = [](uint32_t strmtyp, uint32_t acmod, bool compre, bool chanmape, uint32_t chanmap) {
        return mdtest::Eac3FrameStart(strmtyp, 0, acmod, true, 512, compre, chanmape, chanmap);
    };
    struct Row {
        const char* what;
        Frame f;
        uint32_t chanmap;
    } rows[] = {
        {"Lrs/Rrs after 3/2", frame(1, 7, false, true, 0x0200), 0x0200},
        {"compr moves chanmap 8 bits on", frame(1, 7, true, true, 0x0400), 0x0400},
        {"1+1 has a second dialnorm and compr", frame(1, 0, false, true, 0x8001), 0x8001},
        {"chanmape 0: no map", frame(1, 7, false, false, 0), 0},
        {"an independent substream has no chanmap", frame(0, 7, false, true, 0x0200), 0},
        {"a map cut short by the end of the bytes is none", mdtest::Cut(frame(1, 7, true, true, 0x0200), 8), 0},
    };
    for (const Row& r : rows) {
        AudioFormat fmt{};
        Eac3Info info{};
        ASSERT_TRUE(ParseEac3Header(r.f.data(), Len(r.f), fmt, info)) << r.what;
        EXPECT_EQ(info.chanmap, r.chanmap) << r.what;
    }
    // Table E2.5 locations, location 0 (L) in the top bit; speakers as WAVEFORMATEXTENSIBLE bits (FL 1, FR 2, FC 4,
    // LFE 8, BL 0x10, BR 0x20, FLC 0x40, FRC 0x80, BC 0x100, SL 0x200, SR 0x400, TC 0x800, TFL 0x1000, TFC 0x2000,
    // TFR 0x4000).
    EXPECT_EQ(std::tuple(Eac3ChanmapOfAcmod(7, 1), Eac3ChanmapOfAcmod(1, 0), Eac3ChanmapOfAcmod(4, 0),
                         Eac3ChanmapOfAcmod(0, 0)),
              std::tuple(0xF801u, 0x4000u, 0xA100u, 0xA000u));
    const std::tuple<uint32_t, uint32_t, uint32_t> speakers[] = {
        {0xF801 | 0x0400, 0x6CF, 8},   // Lc/Rc
        {0xE000 | 0x0180, 0x907, 5},   // Cs and Ts
        {0xE000 | 0x0070, 0x5007, 9},  // Lsd/Rsd, Lw/Rw (no speaker bits) and Vhl/Vhr
        {0x000E, 0x2000, 4},           // Vhc, Lts/Rts, LFE2: counted, only Vhc has a speaker
    };
    for (const auto& [chanmap, mask, channels] : speakers) {
        uint32_t n = 0;
        EXPECT_EQ(std::pair(Eac3ChanmapSpeakers(chanmap, n), n), std::pair(mask, channels)) << std::hex << chanmap;
    }
}

TEST(AudioDts, Headers)
{
    AudioFormat fmt{};
    DtsInfo info{};
    int64_t duration = 0;
    // 512 samples at 48 kHz = 106666.7 x 100 ns; RATE 24 = 1536 kbit/s; the byte-swapped sync sets flag 0x100.
    for (bool reversed : {false, true}) {
        const Frame f = mdtest::DtsFrameStart(15, 13, 24, reversed);
        ASSERT_TRUE(ParseDtsHeader(f.data(), Len(f), fmt, info, duration));
        EXPECT_EQ(std::tuple(info.flags, fmt.channels, fmt.bytesPerSecond, fmt.blockAlign, fmt.bitsPerSample, duration),
                  std::tuple(reversed ? 0x100u : 0u, 6u, 192000u, 6144u, 0u, int64_t(106666)));
    }
    // The RATE table (ETSI TS 102 114 Table 5-7) in kbit/s x 10.
    const uint32_t rates[32] = {320,   560,   640,   960,   1120,  1280,  1920,  2240,  2560,  3200,  3840,
                                4480,  5120,  5760,  6400,  7680,  9600,  10240, 11520, 12800, 13440, 14080,
                                14112, 14720, 15360, 19200, 20480, 30720, 38400, 38400, 38400, 38400};
    for (uint8_t rate = 0; rate < 32; ++rate) {
        const Frame f = mdtest::DtsFrameStart(15, 13, rate);
        ASSERT_TRUE(ParseDtsHeader(f.data(), Len(f), fmt, info, duration));
        EXPECT_EQ(fmt.bytesPerSecond, rates[rate] * 100 / 8) << int(rate);
    }
    // The SFREQ table (Table 5-5); its invalid codes read 48 kHz.
    const uint32_t sampleRates[16] = {48000, 8000,  16000, 32000, 48000, 48000, 11025, 22050,
                                      44100, 48000, 48000, 12000, 24000, 48000, 48000, 48000};
    for (uint8_t sfreq = 0; sfreq < 16; ++sfreq) {
        const Frame f = mdtest::DtsFrameStart(15, sfreq, 24);
        ASSERT_TRUE(ParseDtsHeader(f.data(), Len(f), fmt, info, duration));
        EXPECT_EQ(fmt.sampleRate, sampleRates[sfreq]) << int(sfreq);
    }
    Frame f = mdtest::DtsFrameStart(15, 13, 24);
    f[0] = 0xFE, f[1] = 0x7F, f[2] = 0x01, f[3] = 0x80;  // 16-bit little-endian words: not taken
    EXPECT_FALSE(ParseDtsHeader(f.data(), Len(f), fmt, info, duration));
}

TEST(AudioDts, WordFormsAndCoreFields)
{
    // The four sync words as TS 102 114 gives them and the bits after them (FTYPE 1, SHORT 31, zeros), which the
    // 14-bit forms carry in their words 07F0 and 0000: rewritten to 16-bit big-endian words all read 7F FE 80 01 FC 00
    // (four 14-bit words hold 56 bits: three whole words).
    const std::pair<DtsWordForm, Frame> stored[] = {
        {DtsWordForm::Be16, {0x7F, 0xFE, 0x80, 0x01, 0xFC, 0x00}},
        {DtsWordForm::Le16, {0xFE, 0x7F, 0x01, 0x80, 0x00, 0xFC}},
        {DtsWordForm::Be14, {0x1F, 0xFF, 0xE8, 0x00, 0x07, 0xF0, 0x00, 0x00}},
        {DtsWordForm::Le14, {0xFF, 0x1F, 0x00, 0xE8, 0xF0, 0x07, 0x00, 0x00}},
    };
    for (const auto& [form, bytes] : stored) {
        EXPECT_EQ(std::pair(DtsCoreSync(bytes.data(), Len(bytes)), DtsCoreSync(bytes.data(), 4)),
                  std::pair(form, bytes.size() == 6 ? form : DtsWordForm::None));
        uint8_t be[8] = {};
        const uint32_t n = DtsWordsToBe16(bytes.data(), Len(bytes), form, be, sizeof be);
        EXPECT_EQ(Frame(be, be + n), (Frame{0x7F, 0xFE, 0x80, 0x01, 0xFC, 0x00})) << int(form);
    }
    EXPECT_EQ(DtsCoreSync(Frame{0x01, 0x80, 0xFE, 0x7F}.data(), 4), DtsWordForm::None);
    // 14-bit words carry 7/8 of their bytes: a 1792-byte core frame takes 2048 bytes, a 1024-byte one 1172.
    EXPECT_EQ(std::tuple(DtsStoredBytes(1792, DtsWordForm::Le14), DtsStoredBytes(1024, DtsWordForm::Be14),
                         DtsStoredBytes(1024, DtsWordForm::Le16)),
              std::tuple(2048u, 1172u, 1024u));

    // AMODE (Table 5-4) and LFF give the channels; NBLKS + 1 blocks of 32 samples; FSIZE + 1 bytes.
    const Frame core = DtsCoreStart(15, 1023, 9, 13, 1);
    struct Row {
        const char* what;
        Frame header;
        bool ok;
        uint32_t channels, mask, samples, bytes, rate;
    } rows[] = {
        {"3/2 + LFE at 48 kHz", core, true, 6, 0x3F, 512, 1024, 48000},
        {"mono, 44.1 kHz", DtsCoreStart(15, 1023, 0, 8, 0), true, 1, 0x4, 512, 1024, 44100},
        {"L+R+S, LFF 2", DtsCoreStart(7, 95, 6, 3, 2), true, 4, 0x10B, 256, 96, 32000},
        {"XCh adds the centre surround", DtsCoreStart(15, 1023, 9, 13, 1, 0, true), true, 7, 0x13F, 512, 1024, 48000},
        {"another extension adds none", DtsCoreStart(15, 1023, 9, 13, 1, 2, true), true, 6, 0x3F, 512, 1024, 48000},
        {"AMODE 14: eight channels", DtsCoreStart(15, 1023, 14, 13, 0), true, 8, 0x6F3, 512, 1024, 48000},
        {"a user-defined AMODE: channels unknown", DtsCoreStart(15, 1023, 20, 13, 1), true, 0, 0, 512, 1024, 48000},
        {"FSIZE 94: below the 96-byte minimum", DtsCoreStart(15, 94, 9, 13, 1), false, 0, 0, 0, 0, 0},
        {"NBLKS 4: below 6 blocks", DtsCoreStart(4, 1023, 9, 13, 1), false, 0, 0, 0, 0, 0},
        {"SFREQ 0 is invalid", DtsCoreStart(15, 1023, 9, 0, 1), false, 0, 0, 0, 0, 0},
        {"SFREQ 4 is invalid", DtsCoreStart(15, 1023, 9, 4, 1), false, 0, 0, 0, 0, 0},
        {"LFF 3 is invalid", DtsCoreStart(15, 1023, 9, 13, 3), false, 0, 0, 0, 0, 0},
    };
    for (const Row& r : rows) {
        DtsCoreHeader h{};
        ASSERT_EQ(ParseDtsCoreHeader(r.header.data(), Len(r.header), h), r.ok) << r.what;
        if (r.ok) {
            EXPECT_EQ(std::tuple(h.channels, h.channelMask, h.samples, h.frameBytes, h.sampleRate),
                      std::tuple(r.channels, r.mask, r.samples, r.bytes, r.rate))
                << r.what;
        }
    }
    DtsCoreHeader h{};
    EXPECT_FALSE(ParseDtsCoreHeader(core.data(), 10, h));  // LFF lies in byte 10

    // DTS-HD substream headers: nuExtSSHeaderSize and nuExtSSFsize in 8 and 16 bits, or 12 and 20.
    const Frame shortSizes = DtsHdSubstreamStart(false, 16, 2000), longSizes = DtsHdSubstreamStart(true, 40, 70000),
                inverted = DtsHdSubstreamStart(false, 64, 32);
    Frame wrongSync = shortSizes;
    wrongSync[3] = 0x24;
    EXPECT_EQ(std::tuple(DtsHdSubstreamBytes(shortSizes.data(), Len(shortSizes)),
                         DtsHdSubstreamBytes(longSizes.data(), Len(longSizes)),
                         DtsHdSubstreamBytes(inverted.data(), Len(inverted)),
                         DtsHdSubstreamBytes(wrongSync.data(), Len(wrongSync)),
                         DtsHdSubstreamBytes(shortSizes.data(), 7)),  // the frame size runs into byte 8
              std::tuple(2000u, 70000u, 0u, 0u, 0u));
}

TEST(AudioLpcm, Headers)
{
    // Byte 5: quantisation(2) rate(2) 0 channels-1(3); quantisation 3 and rate 2 reserved; 20 / 8 bytes rounds up.
    const std::tuple<uint8_t, bool, uint32_t, uint32_t, uint32_t, uint32_t> rows[] = {
        {0b10'01'0'101, true, 24, 6, 18, 1728000}, {0b01'00'0'000, true, 20, 1, 2, 96000},
        {0b11'00'0'001, false, 0, 0, 0, 0}, {0b00'10'0'001, false, 0, 0, 0, 0}};
    for (const auto& [b, ok, bits, channels, align, rate] : rows) {
        AudioFormat fmt{};
        const Frame f = {0xA0, 0x01, 0x00, 0x04, 0x00, b};
        EXPECT_EQ(ParseLpcmHeader(f.data(), Len(f), fmt), ok) << int(b);
        EXPECT_TRUE(!ok || std::tuple(fmt.bitsPerSample, fmt.channels, fmt.blockAlign, fmt.bytesPerSecond) ==
                               std::tuple(bits, channels, align, rate)) << int(b);
    }
}

TEST(AudioMlp, TrueHdAndMlp)
{
    AudioFormat fmt{};
    MlpInfo info{};
    uint32_t pcmBytes = 0;
    // MLP: group-1 rate nibble in byte 5, channel_arrangement in byte 7's low 5 bits (0xEC: 12; 21 is past the last).
    // Rejected: an arrangement past the last, a reserved rate code (3), a major sync of neither kind (BA, BB).
    const Frame mlp96 = {0xF8, 0x72, 0x6F, 0xBB, 0x88, 0x1F, 0, 0xEC}, bad = {0xF8, 0x72, 0x6F, 0xBB, 0, 0, 0, 21};
    ASSERT_TRUE(ParseMlpHeader(mlp96.data(), Len(mlp96), fmt, info, pcmBytes));
    EXPECT_EQ(std::tuple(fmt.sampleRate, fmt.channels, pcmBytes), std::tuple(96000u, 6u, 1440u));
    for (const Frame& f :
         {bad, Frame{0xF8, 0x72, 0x6F, 0xBB, 0x88, 0x3F, 0, 0xEC}, Frame{0xF8, 0x72, 0x6F, 0xBC, 0x88, 0x1F, 0, 0xEC}})
        EXPECT_FALSE(ParseMlpHeader(f.data(), Len(f), fmt, info, pcmBytes));
    // TrueHD's audio_sampling_frequency (byte 4's high nibble): 48, 96, 192, 44.1, 88.2, 176.4 kHz; others reserved.
    const uint32_t trueHdRates[16] = {48000, 96000, 192000, 0, 0, 0, 0, 0, 44100, 88200, 176400, 0, 0, 0, 0, 0};
    for (uint8_t code = 0; code < 16; ++code) {
        const Frame f = {0xF8, 0x72, 0x6F, 0xBA, uint8_t(code << 4), 0, 0, 1};
        const bool ok = ParseMlpHeader(f.data(), Len(f), fmt, info, pcmBytes);
        EXPECT_EQ(ok ? fmt.sampleRate : 0, trueHdRates[code]) << int(code);
    }

    // Every TrueHD 8ch assignment (low 13 bits of bytes 6-7) and MLP arrangement: code, layout code, LFE, channels.
    const uint32_t trueHd[][4] = {{1, 2, 0, 2},   {2, 1, 0, 1},   {3, 3, 0, 3},   {5, 2, 1, 3},   {7, 3, 1, 4},
                                  {9, 6, 0, 4},   {11, 7, 0, 5},  {13, 6, 1, 5},  {15, 7, 1, 6},  {23, 7, 1, 6},
                                  {27, 18, 0, 7}, {31, 18, 1, 8}, {47, 18, 1, 8}, {79, 18, 1, 8}, {75, 16, 1, 7},
                                  {143, 16, 1, 7}};
    const uint32_t mlp[21][3] = {{1, 0, 1}, {2, 0, 2}, {4, 0, 3}, {6, 0, 4}, {2, 1, 3}, {4, 1, 4}, {6, 1, 5},
                                 {3, 0, 3}, {5, 0, 4}, {7, 0, 5}, {3, 1, 4}, {5, 1, 5}, {7, 1, 6}, {5, 0, 4},
                                 {7, 0, 5}, {3, 1, 4}, {5, 1, 5}, {7, 1, 6}, {6, 1, 5}, {7, 0, 5}, {7, 1, 6}};
    for (uint32_t k = 0; k < std::size(trueHd) + 21; ++k) {
        const bool hd = k < std::size(trueHd);
        const uint32_t code = hd ? trueHd[k][0] : k - std::size(trueHd), *want = hd ? trueHd[k] + 1 : mlp[code];
        const Frame f = {0xF8, 0x72, 0x6F, uint8_t(hd ? 0xBA : 0xBB), 0, 0, uint8_t(code >> 8), uint8_t(code)};
        ASSERT_TRUE(ParseMlpHeader(f.data(), Len(f), fmt, info, pcmBytes)) << code;
        EXPECT_EQ(std::tuple(info.channelLayout, uint32_t(info.lfe), fmt.channels),
                  std::tuple(want[0], want[1], want[2])) << (hd ? "TrueHD " : "MLP ") << code;
    }
}

// ParseMpegAudioFrame: every version's rates and bit-rate tables, and the frame lengths of 11172-3 2.4.3.1 and
// 13818-3 2.4.3.1 (Layer I: 4 x (12 x rate / fs + padding); II and III: 144 x rate / fs + padding, 72 x for Layer III
// at the lower frequencies). Fields: version (3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5), layer (3 I, 2 II, 1 III),
// protection_bit, bitrate_index, sampling_frequency, padding_bit, mode.
TEST(AudioMpeg, FramesOfEveryVersion)
{
    const auto header = [](int version, int layer, int protection, int bitrate, int sampling, int padding, int mode) {
        return mdtest::Bits("11:0x7FF 2:" + std::to_string(version) + " 2:" + std::to_string(layer) + " 1:" +
                            std::to_string(protection) + " 4:" + std::to_string(bitrate) + " 2:" +
                            std::to_string(sampling) + " 1:" + std::to_string(padding) + " 1:0 2:" +
                            std::to_string(mode) + " 6:0");
    };
    using V = MpegAudioVersion;
    struct Row {
        Frame h;
        V version;
        uint32_t layerIndex, rate, bitRate, bytes, samples, mode;
        bool crc;
    } rows[] = {
        {header(3, 1, 1, 9, 0, 1, 0), V::Mpeg1, 2, 44100, 128000, 418, 1152, 0, false},  // 417.96 + 1
        {header(3, 3, 0, 14, 2, 0, 1), V::Mpeg1, 0, 32000, 448000, 672, 384, 1, true},   // 4 x 168
        {header(2, 1, 1, 8, 0, 0, 3), V::Mpeg2, 2, 22050, 64000, 208, 576, 3, false},    // 72 x: 208.98
        {header(2, 2, 1, 14, 1, 0, 0), V::Mpeg2, 1, 24000, 160000, 960, 1152, 0, false}, // LSF Layer II top rate
        {header(2, 3, 1, 14, 2, 0, 0), V::Mpeg2, 0, 16000, 256000, 768, 384, 0, false},  // LSF Layer I: 4 x 192
        {header(0, 1, 1, 1, 2, 0, 3), V::Mpeg25, 2, 8000, 8000, 72, 576, 3, false},      // a quarter of 32 kHz
        {header(0, 1, 1, 8, 0, 1, 0), V::Mpeg25, 2, 11025, 64000, 418, 576, 0, false},
    };
    for (const Row& r : rows) {
        MpegAudioFrame f{};
        ASSERT_TRUE(ParseMpegAudioFrame(r.h.data(), r.h.size(), f)) << r.rate;
        EXPECT_EQ(std::tuple(f.version, f.layerIndex, f.sampleRate, f.bitRate, f.frameBytes, f.samples, f.channelMode,
                             f.crc),
                  std::tuple(r.version, r.layerIndex, r.rate, r.bitRate, r.bytes, r.samples, r.mode, r.crc))
            << r.rate << " " << r.bitRate;
    }
    // The older length function keeps MPEG-2.5 out (its sync is 0xFFF) and agrees on the others.
    EXPECT_EQ(std::pair(MpegAudioFrameBytes(rows[0].h.data(), 4), MpegAudioFrameBytes(rows[5].h.data(), 4)),
              std::pair(418u, 0u));
    // The reserved version 01 and layer 00, free format, bitrate_index 15, sampling_frequency 3, a 0xFF followed by
    // fewer than three sync bits, and a header cut to three bytes.
    const Frame bad[] = {header(1, 1, 1, 9, 0, 0, 0), header(3, 0, 1, 9, 0, 0, 0), header(3, 1, 1, 0, 0, 0, 0),
                         header(3, 1, 1, 15, 0, 0, 0), header(3, 1, 1, 9, 3, 0, 0), {0xFF, 0xDB, 0x90, 0x00},
                         Frame(rows[0].h.begin(), rows[0].h.begin() + 3)};
    for (const Frame& h : bad) {
        MpegAudioFrame f{};
        EXPECT_FALSE(ParseMpegAudioFrame(h.data(), h.size(), f)) << std::hex << int(h[1]) << " " << int(h[2]);
    }
}

// Fewer bytes than a header needs: every parser says no (exactly sized copies, so a sanitizer sees overreads).
TEST(AudioHeaders, TruncatedInputs)
{
    const Frame full[] = {{0xFF, 0xFD, 0xA4, 0x00}, Ac3(0x1E), mdtest::DtsFrameStart(15, 13, 24), {0xA0, 1, 0, 4, 0, 1},
                          {0xF8, 0x72, 0x6F, 0xBA, 0, 0, 0, 0x0F}};
    struct { AudioFormat fmt; MpegAudioInfo mpeg; Ac3Info ac3; DtsInfo dts; MlpInfo mlp; uint32_t u; int64_t d; } o{};
    for (size_t n = 0; n < 12; ++n) {
        Frame c[5];
        for (size_t k = 0; k < 5; ++k)
            c[k].assign(full[k].begin(), full[k].begin() + std::min(n, full[k].size()));
        EXPECT_EQ(ParseMpegAudioHeader(c[0].data(), Len(c[0]), o.fmt, o.mpeg), n >= 4);
        EXPECT_EQ(ParseAc3Header(c[1].data(), Len(c[1]), o.fmt, o.ac3, o.u), n >= 8);
        EXPECT_EQ(ParseDtsHeader(c[2].data(), Len(c[2]), o.fmt, o.dts, o.d), n >= 10);
        EXPECT_EQ(ParseLpcmHeader(c[3].data(), Len(c[3]), o.fmt), n >= 6);
        EXPECT_EQ(ParseMlpHeader(c[4].data(), Len(c[4]), o.fmt, o.mlp, o.u), n >= 8);
        EXPECT_EQ(std::pair(IsMpegAudioSync(c[0].data(), Len(c[0])), IsValidMpegAudioHeader(c[0].data(), Len(c[0]))),
                  std::pair(n >= 2, n >= 3));
    }
}

}  // namespace
}  // namespace md
