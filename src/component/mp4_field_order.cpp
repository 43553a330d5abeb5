#include "component/mp4_field_order.h"

#include <array>
#include <bit>
#include <optional>
#include <vector>

#include "es/h264.h"
#include "es/start_code.h"
#include "input/bytes.h"
#include "mp4/m4_demux.h"
#include "mp4/sample_entry.h"
#include "mp4/sample_table.h"
#include "input/ring_buffer.h"

namespace md {
namespace {

constexpr uint32_t kVide = FourCC("vide");
constexpr uint32_t kMp4v = FourCC("mp4v");
constexpr uint32_t kAvc1 = FourCC("avc1");

// Bytes read at a sample's offset, and the ring buffer that holds them.
constexpr uint32_t kReadSize = 4096;
constexpr int32_t kRingCapacity = 4097;
// NAL units passed over (SEI, access unit delimiters) before the first slice
// of a sample is given up.
constexpr int kMaxLeadingNalUnits = 16;

constexpr uint32_t kNalSliceNonIdr = 1;
constexpr uint32_t kNalSliceIdr = 5;

// The video track's children, reading the tree first when there is none yet.
const Mp4Box* VideoTrack(std::unique_ptr<Mp4Box>& boxes, ZPMP::InputStream& input)
{
    if (!boxes)
        boxes = ReadMp4Stream(input);
    return FindFirstTrack(boxes.get(), kVide);
}

// Reads a parameter set stored with its 2-byte length prefix; sets of 2 bytes
// or less hold nothing.
template <class Info>
bool ParseParameterSet(const std::vector<ParameterSetRecord>& sets, bool (*parse)(const uint8_t*, uint32_t, Info&),
                       Info& info)
{
    if (sets.empty())
        return false;
    const ParameterSetRecord& set = sets.front();
    if (set.length <= 2 || set.length > set.bytes.size())
        return false;
    return parse(set.bytes.data() + 2, set.length - 2, info) && info.valid;
}

struct SliceScan {
    const Mp4Box* children;
    const Mp4Box* root;
    const SpsInfo& sps;
    const PpsInfo& pps;
    uint32_t lengthSize;  // bytes of each NAL unit's length prefix
};

// The parity of the first slice of sample n: 1 for a top field (or a frame
// whose bottom field does not come first), 2 for a bottom field; none when the
// sample or its slice header cannot be read.
std::optional<uint32_t> SliceParity(const SliceScan& scan, int32_t n, ZPMP::InputStream& input)
{
    const uint32_t offset = GetSampleOffset(scan.children, n, scan.root);
    if (offset == 0)
        return std::nullopt;  // the sample is not in the tables

    // A sample may open with SEI or delimiter NAL units; step over them to its
    // first slice.
    std::array<uint8_t, kReadSize> buffer;
    uint64_t at = offset;
    uint32_t got = 0;
    uint32_t nalType = 0;
    for (int units = 0;; ++units) {
        if (units == kMaxLeadingNalUnits)
            return std::nullopt;
        got = ZPMP::ReadAt(input, at, buffer.data(), kReadSize);
        if (got <= scan.lengthSize)
            return std::nullopt;
        uint32_t length = 0;
        for (uint32_t i = 0; i < scan.lengthSize; ++i)
            length = length << 8 | buffer[i];
        nalType = buffer[scan.lengthSize] & 0x1F;
        if (nalType == kNalSliceNonIdr || nalType == kNalSliceIdr)
            break;
        at += scan.lengthSize + uint64_t(length);
    }

    RingBuffer ring(kRingCapacity);
    ring.Write(buffer.data(), got);
    ring.GetBits(static_cast<int>(8 * scan.lengthSize));  // NAL unit length
    ring.GetBits(8);                                      // NAL unit header
    ring.ReadUe();                                        // first_mb_in_slice
    ring.ReadUe();                                        // slice_type
    ring.ReadUe();                                        // pic_parameter_set_id
    if (scan.sps.separate_colour_plane_flag)
        ring.GetBits(2);  // colour_plane_id
    ring.GetBits(static_cast<int>(scan.sps.log2_max_frame_num_minus4 + 4));  // frame_num
    uint32_t parity = 1;
    if (!scan.sps.frame_mbs_only_flag && ring.GetBits(1) != 0) {  // field_pic_flag
        parity = ring.GetBits(1) != 0 ? 2 : 1;                     // bottom_field_flag
    } else {
        if (nalType == kNalSliceIdr)
            ring.ReadUe();  // idr_pic_id
        if (scan.sps.pic_order_cnt_type == 0) {
            ring.GetBits(static_cast<int>(scan.sps.log2_max_pic_order_cnt_lsb_minus4 + 4));  // pic_order_cnt_lsb
            if (scan.pps.bottom_field_pic_order_in_frame_present_flag)
                parity = ring.ReadSe() < 0 ? 2 : 1;  // delta_pic_order_cnt_bottom
        }
    }
    // A header that ran into the end of the bytes read was not read whole.
    if (ring.IsBitEmpty())
        return std::nullopt;
    return parity;
}

}  // namespace

void ScanMp4FirstSampleFieldOrder(std::unique_ptr<Mp4Box>& boxes, ZPMP::InputStream& input, uint32_t& fieldOrder)
{
    const Mp4Box* track = VideoTrack(boxes, input);
    if (track == nullptr)
        return;
    uint32_t resolution = 0;
    const Mp4Box* entry = FirstSampleEntry(track);
    if (const auto* mp4v = BoxAs<Mp4Mp4vEntry>(entry); mp4v != nullptr && entry->type == kMp4v) {
        if (mp4v->vopTimeIncrementResolution < 0)
            return;  // no video object layer
        resolution = static_cast<uint32_t>(mp4v->vopTimeIncrementResolution);
    }

    const uint32_t offset = GetSampleOffset(track->firstChild.get(), 1, boxes.get());
    if (offset == 0)
        return;
    std::array<uint8_t, kReadSize> buffer;
    const uint32_t got = ZPMP::ReadAt(input, offset, buffer.data(), kReadSize);
    // Encoders put a group_of_vop header (00 00 01 B3) before an I-VOP; the
    // picture header starts at the first vop_start_code.
    const uint32_t vop = FindCode(buffer.data(), got, 0xB6);
    if (vop == got)
        return;
    RingBuffer ring(kRingCapacity);
    ring.Write(buffer.data() + vop, got - vop);

    // video_object_plane header (ISO/IEC 14496-2 6.2.5) of an I-VOP.
    ring.GetBits(32);  // vop_start_code
    ring.GetBits(2);   // vop_coding_type
    while (!ring.IsBitEmpty() && ring.GetBits(1) == 1) {
    }                   // modulo_time_base, ended by a 0 bit
    ring.GetBits(1);    // marker_bit
    ring.GetBits(std::bit_width(resolution));  // vop_time_increment: the resolution's significant bits
    ring.GetBits(1);    // marker_bit
    ring.GetBits(1);    // vop_coded
    ring.GetBits(3);    // intra_dc_vlc_thr
    if (ring.IsBitEmpty())
        return;  // the sample ended before the header did
    fieldOrder = ring.GetBits(1) != 0 ? 1 : 2;  // top_field_first
}

void ScanMp4SliceFieldOrder(std::unique_ptr<Mp4Box>& boxes, ZPMP::InputStream& input, uint32_t& fieldOrder,
                            double& frameRate)
{
    const Mp4Box* track = VideoTrack(boxes, input);
    if (track == nullptr)
        return;
    const Mp4Box* entry = FirstSampleEntry(track);
    const auto* avc1 = BoxAs<Mp4Avc1Entry>(entry);
    if (avc1 == nullptr || entry->type != kAvc1)
        return;
    SpsInfo sps{};
    PpsInfo pps{};
    const auto parseSps = [](const uint8_t* p, uint32_t n, SpsInfo& info) { return ParseSps(p, n, info); };
    if (!ParseParameterSet(avc1->sequenceParameterSets, +parseSps, sps) ||
        !ParseParameterSet(avc1->pictureParameterSets, ParsePps, pps))
        return;

    const SliceScan scan{track->firstChild.get(), boxes.get(), sps, pps, avc1->lengthSizeMinusOne + 1u};
    const std::optional<uint32_t> first = SliceParity(scan, 1, input);
    if (!first)
        return;
    fieldOrder = *first;
    const std::optional<uint32_t> second = SliceParity(scan, 2, input);
    if (second && *second != *first)
        frameRate /= 2;
}

}  // namespace md
