// Builders of synthetic DV frames for tests: every DIF block of the frame with its ID in its place, the header
// block's system and application, and the auxiliary packs a test asks for (IEC 61834-2 and -4, SMPTE 314M).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace mdtest {

// An AAUX source pack (0x50): SMP (0 48 kHz, 1 44.1 kHz, 2 32 kHz), QU (0 16-bit, 1 12-bit), CHN (channels per
// audio block - 1), AUDIO MODE.
struct AauxSource {
    uint8_t smp = 0, qu = 0, chn = 0, mode = 0;
};

struct DvFrameFields {
    bool pal = false;  // DSF: 625/50 (12 DIF sequences per channel), else 525/60 (10)
    uint8_t apt = 0;  // header block APT: 0 IEC 61834, 1 SMPTE 314M
    bool twoChannels = false;  // the 50 Mbps format: a second channel of sequences (FSC 1)
    std::optional<uint8_t> stype = 0;  // VAUX source pack STYPE; none: no such pack
    std::optional<uint8_t> disp = 0;  // VAUX source control pack DISP; none: no such pack
    bool interlaced = true;  // its IL bit
    // The AAUX source pack of each audio block (the first and second half of each channel's sequences), placed
    // in audio DIF block 3 of the half's first sequence, or with laterSequence in audio DIF block 0 of its second.
    std::array<std::optional<AauxSource>, 4> audio = {};
    bool laterSequence = false;
    int vauxBlock = 0;  // which of a sequence's three VAUX blocks holds the VS and VSC packs
};

std::vector<uint8_t> DvFrame(const DvFrameFields& fields);

// The offset in a frame of block `block` (0..149) of DIF sequence `sequence` of channel `channel`.
size_t DifBlockOffset(bool pal, int channel, int sequence, int block);

}  // namespace mdtest
