// The elementary-stream header parsers over arbitrary bytes; the first byte
// selects the parser, the rest is its input.
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
        auto info = std::make_unique<md::SequenceHeaderInfo>();
        md::ParseSequenceHeader(p, n, *info, 1 + selector / 10 % 3);
        break;
    }
    case 1: {
        auto info = std::make_unique<md::SequenceHeaderInfo>();
        md::ParseVolHeader(p, n, *info);
        break;
    }
    case 2: {
        md::PesInfo pes{};
        md::ParseMpeg2PesHeader(p, n, pes);
        md::ParseMpeg1PesHeader(p, n, pes);
        md::SystemHeaderLength(p, n);
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
        break;
    }
    default: {
        auto area1 = std::make_unique<md::StreamRecord>();
        md::CollectHeaders(p, n, area1->extraData1, area1->extraData1Length, area1->extraData2,
                           area1->extraData2Length, selector & 1 ? md::kModeMpegVideo : md::kModeH264);
        uint32_t order = 0;
        uint8_t progressive = 0;
        md::ReadFieldOrder(p, n, order, progressive);
        break;
    }
    }
    return 0;
}
