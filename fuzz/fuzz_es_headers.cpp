// The elementary-stream header parsers over arbitrary bytes; the first byte
// selects the parser, the rest is its input. Every length a parser reports
// stays within the input, and every time fits in 33 bits.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "es/audio_headers.h"
#include "es/h264.h"
#include "es/hevc.h"
#include "es/mpeg_video.h"
#include "es/pes.h"
#include "es/start_code.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t selector = data[0];
    // A copy of exactly the input's length, so any read beyond it is caught.
    const std::vector<uint8_t> body(data + 1, data + size);
    const uint8_t* p = body.data();
    const auto n = static_cast<uint32_t>(body.size());
    if (selector >= 250) {  // HEVC: an odd selector reads a configuration record, an even one an Annex B stream
        md::HevcPictureProperties props{};
        if (selector & 1)
            md::DescribeHevcConfiguration(p, n, props);
        else
            md::DescribeHevcAnnexB(p, n, props);
        return 0;
    }
    switch (selector % 10) {
    case 0: {
        const uint32_t length = md::SequenceHeaderLength(p, n);
        Check(length == 0 || length == 12 || length == 76 || length == 140);
        auto info = std::make_unique<md::SequenceHeaderInfo>();
        Check(!md::ParseSequenceHeader(p, n, *info, 1 + selector / 10 % 3) || uint32_t(info->headerLength) <= n);
        md::ApplySequenceExtension(p, n, *info);
        uint8_t flag = 0, closed = 0, broken = 0;
        uint32_t width = 0, height = 0, reference = 0;
        md::ReadProgressiveSequence(p, n, flag);
        md::ReadDisplaySize(p, n, width, height);
        md::FindEncoderMarker(p, n, flag);
        md::ReadGopFlags(p, n, closed, broken);
        md::ReadTemporalReference(p, n, reference);
        // The headers a described stream keeps come from the input.
        auto record = std::make_unique<md::StreamRecord>();
        Check(!md::DescribeMpegVideo(p, n, *record) ||
              record->extraData1Length + record->extraData2Length <= int32_t(n));
        break;
    }
    case 1: {
        auto info = std::make_unique<md::SequenceHeaderInfo>();
        Check(!md::ParseVolHeader(p, n, *info) || info->headerLength < int32_t(n));
        break;
    }
    case 2: {
        // 0: no header, 4: more bytes needed, else the whole packet's length.
        for (const auto parse : {md::ParseMpeg2PesHeader, md::ParseMpeg1PesHeader}) {
            md::PesInfo pes{};
            const uint32_t r = parse(p, n, pes);
            Check(r == 0 || r == 4 ||
                  (r <= n && pes.packetLength == r && pes.payloadOffset <= r && pes.pts < int64_t(1) << 33));
        }
        const uint32_t system = md::SystemHeaderLength(p, n);
        Check(system == 0 || system == 4 || (system >= 12 && system <= n));
        Check(md::ReadPts(p, n) < int64_t(1) << 33);
        break;
    }
    case 3: {
        md::AudioFormat f{};
        md::MpegAudioInfo m{};
        md::ParseMpegAudioHeader(p, n, f, m);
        break;
    }
    case 4: {
        md::AudioFormat f{};
        md::Ac3Info a{};
        uint32_t words = 0;
        md::ParseAc3Header(p, n, f, a, words);
        break;
    }
    case 5: {
        md::AudioFormat f{};
        md::DtsInfo d{};
        int64_t duration = 0;
        md::ParseDtsHeader(p, n, f, d, duration);
        md::ParseLpcmHeader(p, n, f);
        break;
    }
    case 6: {
        auto sps = std::make_unique<md::SpsInfo>();
        if (md::ParseSps(p, n, *sps)) {
            md::H264PictureProperties props{};
            md::DerivePictureProperties(*sps, props);
        }
        break;
    }
    case 7: {
        auto pps = std::make_unique<md::PpsInfo>();
        md::ParsePps(p, n, *pps);
        break;
    }
    case 8: {
        auto scan = std::make_unique<md::NalScanInfo>();
        md::ScanNalUnits(p, n, *scan);
        // The first field of the first picture, read with the buffer's first SPS (after its 3- or 4-byte start code).
        auto sps = std::make_unique<md::SpsInfo>();
        const uint32_t prefix = scan->firstSps != nullptr && scan->firstSps[2] == 1 ? 3 : 4;
        if (scan->firstSps != nullptr && scan->firstSpsLength > prefix &&
            md::ParseSps(scan->firstSps + prefix, scan->firstSpsLength - prefix, *sps, true))
            Check(md::H264FirstFieldOrder(p, n, *sps) <= 2);
        break;
    }
    default: {
        const uint32_t mode = selector & 1 ? md::kModeMpegVideo : md::kModeH264;
        auto r = std::make_unique<md::StreamRecord>();
        Check(!md::CollectHeaders(p, n, r->extraData1, r->extraData1Length, r->extraData2, r->extraData2Length, mode) ||
              r->extraData1Length + r->extraData2Length <= int32_t(n));
        md::PictureType(p, n, mode);
        md::HasSequenceHeader(p, n, mode);
        uint32_t order = 0;
        uint8_t progressive = 0;
        md::ReadFieldOrder(p, n, order, progressive);
        // A start code found is whole and what remains ends where the input does.
        const uint8_t* q = p;
        uint32_t remaining = n;
        const bool found = selector & 2 ? md::FindMaskedStartCode(q, remaining, 0x00000100, 0xFFFFFF00)
                                        : md::FindStartCode(q, remaining);
        Check(!found || (remaining >= 4 && q + remaining == p + n));
        break;
    }
    }
    return 0;
}
