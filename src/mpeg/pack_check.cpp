#include "mpeg/pack_check.h"

#include "es/mpeg_video.h"
#include "es/pes.h"
#include "es/start_code.h"
#include "input/bytes.h"

namespace md {

namespace {

constexpr uint32_t kPackStartCode = 0x000001BA;
// The walk looks at the next unit while more than this many bytes remain.
constexpr uint32_t kWalkReserve = 16;

// The walk shared by both checkers; mpeg2 selects the pack header layout, the
// PES header parser, the clock following and the audio rule.
uint32_t WalkPacks(const uint8_t* buffer, uint32_t length, PackEntryList* entries, bool final, bool mpeg2,
                   PackCheckState& state)
{
    if (buffer == nullptr)
        return 0;

    PackEntry pack{};
    bool open = false;
    bool excluded = false;
    bool sawPack = false;
    uint32_t lastPackStart = 0;
    // The pack's last video packet, searched for a key picture only when the
    // pack is emitted with a PTS: most video packets continue a picture and
    // carry none.
    const uint8_t* keyPacket = nullptr;
    uint32_t keyAvailable = 0;
    auto emit = [&](uint32_t end) {
        if (open && !excluded && entries != nullptr) {
            pack.length = static_cast<uint32_t>(end - pack.offset);
            if (pack.ptsPresent != 0 && keyPacket != nullptr) {
                uint8_t closedGop = 0;
                uint32_t temporalReference = 0;
                KeyPictureInPes(keyPacket, keyAvailable, pack.key, closedGop, temporalReference);
            }
            entries->push_back(pack);
        }
    };

    uint32_t i = 0;
    while (length - i > kWalkReserve) {
        const uint8_t* p = buffer + i;
        const uint32_t code = Be32(p);
        if (code == kPackStartCode) {
            emit(i);
            pack = PackEntry{};
            pack.pack = p;
            pack.offset = i;
            pack.videoTime = -1;
            keyPacket = nullptr;
            open = true;
            excluded = false;
            sawPack = true;
            lastPackStart = i;
            uint32_t skip = 12;
            if (mpeg2) {
                ReadMpeg2Scr(p, pack.scrBase, pack.scrExtension);
                skip = 14 + (p[13] & 0x07);  // pack_stuffing_length
                // A clock that goes back, or falls to 0, restarts: later times
                // continue from the last SCR.
                const auto scr27 = static_cast<int64_t>(pack.scrBase * 300 + pack.scrExtension);
                if ((scr27 != 0 && scr27 < state.lastScr) || (scr27 == 0 && state.lastScr != 0)) {
                    state.clockOffset += state.lastScr / 300;
                    state.firstVideoPts = 0;
                }
                state.lastScr = scr27;
            } else {
                pack.scrBase = ReadTimestamp33(p + 4);
            }
            i = Has(length, i, skip) ? i + skip : length;
            continue;
        }
        if (code >= 0x000001BC && code <= 0x000001FF) {
            PesInfo pes{};
            const uint32_t n =
                mpeg2 ? ParseMpeg2PesHeader(p, length - i, pes) : ParseMpeg1PesHeader(p, length - i, pes);
            if (n == kPesNeedMore || n == kPesSkipStartCode)
                break;  // cut at the buffer end, or not a packet: presented again with more data
            const uint8_t id = p[3];
            const bool hasPts = pes.ptsPresent != 0 && pes.pts >= 0;
            pack.ptsPresent = hasPts ? 1 : 0;
            if (id == 0xFA || id == 0xFF)
                excluded = true;
            if (state.inspect && IsVideoStreamId(id)) {
                if (state.firstVideoPts == -1 && hasPts)
                    state.firstVideoPts = pes.pts;
                if (hasPts) {
                    const int64_t ticks = mpeg2 ? state.clockOffset - state.firstVideoPts + pes.pts
                                                : pes.pts - state.firstVideoPts;
                    pack.videoTime = ticks * 1000 / 9;
                } else {
                    pack.videoTime = -1;
                }
                pack.video = 1;
                keyPacket = p;
                keyAvailable = length - i;
            } else if (state.inspect && (IsAudioStreamId(id) || IsPrivateStream1(id))) {
                pack.audio = 1;
                if (mpeg2) {
                    pack.video = 0;
                    keyPacket = nullptr;
                }
            }
            i += n;
            continue;
        }
        ++i;
    }

    if (final && open && !excluded) {
        emit(length);
        return i;
    }
    // Without a pack start nothing before the walk's stop can belong to a pack.
    return sawPack ? lastPackStart : i;
}

}  // namespace

uint32_t Mpeg1PackCheck::ScanPacks(const uint8_t* buffer, uint32_t length, PackEntryList* entries, bool final)
{
    return WalkPacks(buffer, length, entries, final, false, m_state);
}

uint32_t Mpeg2PackCheck::ScanPacks(const uint8_t* buffer, uint32_t length, PackEntryList* entries, bool final)
{
    return WalkPacks(buffer, length, entries, final, true, m_state);
}

bool KeyPictureInPes(const uint8_t* p, uint32_t available, uint8_t& key, uint8_t& closedGop,
                     uint32_t& temporalReference)
{
    key = 0;
    closedGop = 0;
    temporalReference = 0;
    if (p == nullptr || available < 6)
        return false;
    const uint32_t packetLength = 6 + Be16(p + 4);
    if (packetLength > available || !IsVideoStreamId(p[3]) || packetLength < 11)
        return false;
    // The first GOP or picture start code from byte 6 on; memchr finds the 01 of
    // each start code, so the slice data between them costs little.
    const auto gopOrPicture = [](uint8_t code) { return code == 0xB8 || code == 0x00; };
    const uint32_t j = 6 + FindCodeIf(p + 6, packetLength - 6, gopOrPicture);
    if (j == packetLength)
        return false;
    if (p[j + 3] == 0xB8) {  // group_start_code
        key = 1;
        uint8_t brokenLink = 0;
        ReadGopFlags(p + j, packetLength - j, closedGop, brokenLink);
        ReadTemporalReference(p + j, packetLength - j, temporalReference);
        return true;
    }
    // picture_start_code: picture_coding_type 1 is an I-picture
    if (Has(packetLength, j + 4, 4) && (p[j + 5] >> 3 & 0x07) == 1)
        key = 1;
    return key != 0;
}

}  // namespace md
