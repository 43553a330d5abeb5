// TSDemux over whole transport streams: the key picture a selection's first video time is taken from.
#include "ts/ts_demux.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "demux/demux.h"
#include "input/memory_input_stream.h"
#include "support/files.h"
#include "support/stream_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;

// The corpus HEVC stream (video PID 0x100) holds one key picture, its first, whose slice is an IDR_N_LP (NAL
// unit type 20, header 28 01) at PTS 133200; every later picture is a trailing one. Rewriting that slice's NAL
// unit type decides whether the first picture is a key picture: the IRAP types 16..23 are, the others are not,
// and then no key picture follows before the end of the file.
TEST(TsDemux, KeyPictureByHevcNalUnitType)
{
    const ByteVec original =
        md::test::ReadFileBytes(md::test::TestDataDir() / "ts_hevc_320x240_25fps_aac_48k_stereo.ts");
    const uint8_t idrSlice[] = {0x00, 0x00, 0x01, 0x28, 0x01};
    const auto at = std::search(original.begin(), original.end(), std::begin(idrSlice), std::end(idrSlice));
    ASSERT_NE(at, original.end());
    const size_t typeByte = size_t(at - original.begin()) + 3;
    constexpr int64_t kFirstPts = 133200 * 10000 / 90;  // 100-ns units

    const struct Row {
        uint8_t nalType;
        bool key;
        const char* what;
    } rows[] = {
        {16, true, "BLA_W_LP, the first IRAP type"}, {23, true, "reserved IRAP, the last"},
        {15, false, "reserved non-IRAP below the IRAP range"}, {24, false, "reserved non-IRAP above it"},
    };
    for (const Row& row : rows) {
        ByteVec bytes = original;
        bytes[typeByte] = uint8_t(row.nalType << 1);  // forbidden_zero_bit 0, nuh_layer_id 0
        MemoryInputStream input(bytes);
        TSDemux demux;
        demux.SetExtensions(MD_EXT_TS_CODECS);
        demux.SetSelection(0x100, 0x24, 0, 0);
        StreamList streams;
        ASSERT_EQ(demux.Parse(&input, &streams), 1u) << row.what;
        int64_t time = -1;
        const bool found = demux.FindKeyframeTime(&input, 0, time);
        EXPECT_EQ(found ? std::optional(time) : std::nullopt, row.key ? std::optional(kFirstPts) : std::nullopt)
            << row.what;
    }
}

}  // namespace
}  // namespace md
