#include "support/dv_builders.h"

#include <algorithm>

namespace mdtest {

namespace {

constexpr size_t kBlock = 80;
constexpr size_t kSequence = 150 * kBlock;

// Section type and block number of block b (0..149) of a sequence: header, two subcode, three VAUX, then nine
// groups of one audio and fifteen video blocks.
std::pair<uint8_t, uint8_t> SectionOf(int b)
{
    if (b == 0)
        return {0, 0};
    if (b < 3)
        return {1, uint8_t(b - 1)};
    if (b < 6)
        return {2, uint8_t(b - 3)};
    const int group = (b - 6) / 16, inGroup = (b - 6) % 16;
    return inGroup == 0 ? std::pair<uint8_t, uint8_t>{3, uint8_t(group)}
                        : std::pair<uint8_t, uint8_t>{4, uint8_t(group * 15 + inGroup - 1)};
}

void PutPack(std::vector<uint8_t>& frame, size_t block, int pack, std::array<uint8_t, 5> bytes)
{
    std::copy(bytes.begin(), bytes.end(), frame.begin() + ptrdiff_t(block + 3 + 5 * pack));
}

}  // namespace

size_t DifBlockOffset(bool pal, int channel, int sequence, int block)
{
    return (size_t(channel) * (pal ? 12 : 10) + size_t(sequence)) * kSequence + size_t(block) * kBlock;
}

std::vector<uint8_t> DvFrame(const DvFrameFields& f)
{
    const int sequences = f.pal ? 12 : 10, channels = f.twoChannels ? 2 : 1;
    std::vector<uint8_t> frame(size_t(channels * sequences) * kSequence, 0xFF);
    for (int c = 0; c < channels; ++c) {
        for (int s = 0; s < sequences; ++s) {
            for (int b = 0; b < 150; ++b) {
                const size_t at = DifBlockOffset(f.pal, c, s, b);
                const auto [section, number] = SectionOf(b);
                frame[at] = uint8_t(section << 5 | 0x17);  // SCT, reserved 1, Arb 0111
                frame[at + 1] = uint8_t(s << 4 | c << 3 | 0x07);  // Dseq, FSC, reserved
                frame[at + 2] = number;  // DBN
                if (b == 0) {
                    frame[at + 3] = uint8_t((f.pal ? 0x80 : 0x00) | 0x3F);  // DSF, 0, reserved
                    frame[at + 4] = uint8_t(0x68 | f.apt);  // reserved, APT
                }
            }
        }
    }
    // VS and VSC packs in a VAUX block of every sequence of the first channel.
    for (int s = 0; s < sequences; ++s) {
        const size_t vaux = DifBlockOffset(f.pal, 0, s, 3 + f.vauxBlock);
        if (f.stype)
            PutPack(frame, vaux, 0, {0x60, 0xFF, 0xFF, uint8_t(0xC0 | (f.pal ? 0x20 : 0) | *f.stype), 0xFF});
        if (f.disp)
            PutPack(frame, vaux, 1,
                    {0x61, 0x3F, uint8_t(0xC8 | *f.disp), uint8_t(0xEC | (f.interlaced ? 0x10 : 0)), 0xFF});
    }
    for (int k = 0; k < 2 * channels; ++k) {
        if (!f.audio[size_t(k)])
            continue;
        const AauxSource& a = *f.audio[size_t(k)];
        const int sequence = (k % 2) * sequences / 2 + (f.laterSequence ? 1 : 0);
        const int block = 6 + 16 * (f.laterSequence ? 0 : 3);
        PutPack(frame, DifBlockOffset(f.pal, k / 2, sequence, block), 0,
                {0x50, 0xD0, uint8_t(a.chn << 5 | a.mode), uint8_t(0xC0 | (f.pal ? 0x20 : 0)),
                 uint8_t(0x80 | a.smp << 3 | a.qu)});
    }
    return frame;
}

}  // namespace mdtest
