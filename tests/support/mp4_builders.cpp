#include "support/mp4_builders.h"

#include <algorithm>

#include "support/bit_writer.h"

namespace mdtest {
namespace {

void PutUe(BitWriter& w, uint64_t v)
{
    unsigned bits = 0;
    while (((v + 1) >> bits) > 1)
        ++bits;
    w.Put(0, bits);
    w.Put(v + 1, bits + 1);
}

void PutSe(BitWriter& w, int64_t v) { PutUe(w, v > 0 ? uint64_t(2 * v - 1) : uint64_t(-2 * v)); }

// rbsp_trailing_bits, then the NAL header and the payload with an
// emulation_prevention_three_byte after every two zero bytes followed by 0..3.
Bytes8 FinishNal(uint8_t header, BitWriter& w)
{
    w.PutBit(true);
    w.AlignZero();
    Bytes8 nal{header};
    int zeros = 0;
    for (uint8_t b : w.Take()) {
        if (zeros >= 2 && b <= 3) {
            nal.push_back(3);
            zeros = 0;
        }
        nal.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return nal;
}

// Bytes standing in for coded picture data; no 00 00 prefixes among them.
void PutFiller(BitWriter& w)
{
    w.AlignOnes();
    for (int i = 0; i < 24; ++i)
        w.Put(0xA5, 8);
}

void Append(Bytes8& out, std::span<const uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

}  // namespace

Bytes8 AvcSpsNal(const AvcSpsFields& f)
{
    BitWriter w;
    w.Put(f.profileIdc, 8);
    w.Put(40, 16);  // constraint flags 0, level_idc 40
    PutUe(w, 0);  // seq_parameter_set_id
    if (f.profileIdc == 100 || f.profileIdc == 110 || f.profileIdc == 122 || f.profileIdc == 144) {
        PutUe(w, 1);  // chroma_format_idc
        PutUe(w, 0);  // bit_depth_luma_minus8
        PutUe(w, 0);  // bit_depth_chroma_minus8
        w.Put(0, 2);  // qpprime_y_zero_transform_bypass_flag, seq_scaling_matrix_present_flag
    }
    PutUe(w, f.log2MaxFrameNumMinus4);
    PutUe(w, f.pocType);
    if (f.pocType == 0)
        PutUe(w, f.log2MaxPocLsbMinus4);
    PutUe(w, 1);  // max_num_ref_frames
    w.PutBit(false);  // gaps_in_frame_num_value_allowed_flag
    PutUe(w, f.widthMbsMinus1);
    PutUe(w, f.heightMapUnitsMinus1);
    w.PutBit(f.frameMbsOnly);
    if (!f.frameMbsOnly)
        w.PutBit(f.mbAdaptiveFrameField);
    w.PutBit(true);  // direct_8x8_inference_flag
    w.PutBit(f.cropBottom != 0);
    if (f.cropBottom != 0) {
        w.Put(0b111, 3);  // left, right, top offsets 0
        PutUe(w, f.cropBottom);
    }
    w.PutBit(f.vui);
    if (f.vui) {
        w.PutBit(f.aspectInfo);
        if (f.aspectInfo) {
            w.Put(f.aspectIdc, 8);
            if (f.aspectIdc == 255) {
                w.Put(f.sarWidth, 16);
                w.Put(f.sarHeight, 16);
            }
        }
        w.Put(0, 8);  // no overscan, signal type, chroma location, timing, HRD, pic_struct, restriction
    }
    return FinishNal(0x67, w);
}

Bytes8 AvcPpsNal(const AvcPpsFields& f)
{
    BitWriter w;
    w.Put(0b11, 2);  // pic_parameter_set_id 0, seq_parameter_set_id 0
    w.PutBit(false);  // entropy_coding_mode_flag
    w.PutBit(f.bottomFieldPicOrderInFramePresent);
    w.Put(0b111, 3);  // num_slice_groups_minus1, num_ref_idx_l0/l1_default_active_minus1
    w.Put(0, 3);  // weighted_pred_flag, weighted_bipred_idc
    w.Put(0b111, 3);  // pic_init_qp_minus26, pic_init_qs_minus26, chroma_qp_index_offset
    w.Put(0b100, 3);  // deblocking_filter_control_present, constrained_intra_pred, redundant_pic_cnt_present
    return FinishNal(0x68, w);
}

Bytes8 AvcSliceNal(const AvcSpsFields& sps, const AvcPpsFields& pps, const AvcSliceFields& f)
{
    BitWriter w;
    PutUe(w, 0);  // first_mb_in_slice
    PutUe(w, f.idr ? 7 : 5);  // slice_type: I or P, all slices of the picture alike
    PutUe(w, 0);  // pic_parameter_set_id
    w.Put(0, sps.log2MaxFrameNumMinus4 + 4);  // frame_num
    if (!sps.frameMbsOnly) {
        w.PutBit(f.fieldPic);
        if (f.fieldPic)
            w.PutBit(f.bottomField);
    }
    if (f.idr)
        PutUe(w, 0);  // idr_pic_id
    if (sps.pocType == 0) {
        w.Put(f.pocLsb, sps.log2MaxPocLsbMinus4 + 4);
        if (pps.bottomFieldPicOrderInFramePresent && !f.fieldPic)
            PutSe(w, f.deltaPocBottom);
    }
    PutFiller(w);
    return FinishNal(f.idr ? 0x65 : 0x41, w);
}

Bytes8 LengthPrefixed(const std::vector<Bytes8>& nalUnits)
{
    BoxBuilder b;
    for (const Bytes8& nal : nalUnits)
        b.U32(nal.size()).Bytes(nal);
    return b.Take();
}

Bytes8 Mpeg4Vol(uint32_t width, uint32_t height, uint16_t timeIncrementResolution, bool interlaced, uint8_t aspectInfo,
                uint8_t parWidth, uint8_t parHeight)
{
    BitWriter w;
    w.Put(0x00000120, 32);
    w.Put(0x002, 10);  // random_accessible_vol 0, video_object_type_indication 1 (simple), is_object_layer_identifier 0
    w.Put(aspectInfo, 4);
    if (aspectInfo == 15)
        w.Put(parWidth << 8 | parHeight, 16);
    w.Put(0b0001, 4);  // vol_control_parameters, video_object_layer_shape rectangular, marker
    w.Put(timeIncrementResolution, 16);
    w.Put(0b101, 3);  // marker, fixed_vop_rate 0, marker
    w.Put(width, 13);
    w.PutBit(true);
    w.Put(height, 13);
    w.PutBit(true);
    w.PutBit(interlaced);
    w.Put(0x100, 9);  // obmc_disable 1, sprite_enable .. scalability 0, next_start_code's zero bit
    w.AlignOnes();
    return w.Take();
}

Bytes8 Mpeg4IVopHeader(int timeIncrementBits, bool topFieldFirst)
{
    BitWriter w;
    w.Put(0x000001B6, 32);
    w.Put(0b0001, 4);  // vop_coding_type I, modulo_time_base 0, marker
    w.Put(0, static_cast<unsigned>(timeIncrementBits));
    w.Put(0b11000, 5);  // marker, vop_coded, intra_dc_vlc_thr 0
    w.PutBit(topFieldFirst);
    w.PutBit(false);  // alternate_vertical_scan_flag
    PutFiller(w);
    return w.Take();
}

Bytes8 Mpeg4GovHeader()
{
    BitWriter w;
    w.Put(0x000001B3, 32);
    w.Put(0x1, 12);  // time_code_hours, time_code_minutes 0, marker
    w.Put(0x004, 9);  // time_code_seconds 0, closed_gov 1, broken_link 0, next_start_code's zero bit
    w.AlignOnes();
    return w.Take();
}

Bytes8 VisualEntry(std::string_view type, uint16_t width, uint16_t height, std::span<const uint8_t> children)
{
    BoxBuilder b;
    b.Begin(type).Zeros(6).U16(1).Zeros(16);  // reserved, data_reference_index, pre_defined, reserved
    b.U16(width).U16(height).U32(0x00480000).U32(0x00480000).U32(0).U16(1);  // 72 dpi, frame_count 1
    b.Zeros(32).U16(0x18).U16(0xFFFF);  // compressorname, depth, pre_defined
    return b.Bytes(children).End().Take();
}

Bytes8 SoundEntry(std::string_view type, uint16_t channels, uint16_t sampleSize, uint32_t sampleRate,
                  std::span<const uint8_t> children)
{
    BoxBuilder b;
    b.Begin(type).Zeros(6).U16(1).Zeros(8);  // reserved, data_reference_index, reserved
    b.U16(channels).U16(sampleSize).U32(0).U32(uint64_t(sampleRate) << 16);
    return b.Bytes(children).End().Take();
}

// An MPEG-4 descriptor: tag, a one-byte payload length (below 128), the payload.
static Bytes8 Descriptor(uint8_t tag, std::span<const uint8_t> payload)
{
    Bytes8 out{tag, static_cast<uint8_t>(payload.size())};
    Append(out, payload);
    return out;
}

Bytes8 EsDescriptor(uint8_t objectType, uint32_t bufferSize, uint32_t maxBitrate, uint32_t avgBitrate,
                    std::span<const uint8_t> dsi)
{
    BoxBuilder config;  // streamType 5 (audio), upStream 0, reserved 1
    config.U8(objectType).U8(0x15).U8(bufferSize >> 16).U16(bufferSize).U32(maxBitrate).U32(avgBitrate);
    if (!dsi.empty())
        config.Bytes(Descriptor(5, dsi));
    BoxBuilder es;
    es.U16(1).U8(0).Bytes(Descriptor(4, config.Take())).Bytes(Descriptor(6, Bytes8{0x02}));  // ES_ID 1, SL predefined 2
    return Descriptor(3, es.Take());
}

Bytes8 Avc1Entry(uint16_t width, uint16_t height, const std::vector<Bytes8>& sps, const std::vector<Bytes8>& pps,
                 uint8_t profileIndication)
{
    BoxBuilder b;
    b.Begin("avcC").U8(1).U8(profileIndication).U8(0).U8(40).U8(0xFF);  // 4-byte NAL lengths
    b.U8(0xE0 | sps.size());
    for (const Bytes8& s : sps)
        b.U16(s.size()).Bytes(s);
    b.U8(pps.size());
    for (const Bytes8& p : pps)
        b.U16(p.size()).Bytes(p);
    return VisualEntry("avc1", width, height, b.End().Take());
}

Bytes8 Mp4vEntry(uint16_t width, uint16_t height, std::span<const uint8_t> dsi, uint32_t avgBitrate)
{
    BoxBuilder b;
    b.BeginFull("esds", 0, 0).Bytes(EsDescriptor(0x20, 0, avgBitrate, avgBitrate, dsi)).End();
    return VisualEntry("mp4v", width, height, b.Take());
}

Bytes8 Mp4aEntry(uint16_t channels, uint16_t sampleSize, uint32_t sampleRate, uint8_t objectType, uint32_t avgBitrate,
                 std::span<const uint8_t> dsi)
{
    BoxBuilder b;
    b.BeginFull("esds", 0, 0).Bytes(EsDescriptor(objectType, 0, avgBitrate, avgBitrate, dsi)).End();
    return SoundEntry("mp4a", channels, sampleSize, sampleRate, b.Take());
}

Bytes8 WordsBox(std::string_view type, const std::vector<uint32_t>& words, uint8_t version)
{
    BoxBuilder b;
    b.BeginFull(type, version, 0);
    for (uint32_t w : words)
        b.U32(w);
    return b.End().Take();
}

Bytes8 Trak(uint32_t trackId, uint32_t timeScale, uint32_t duration, std::span<const uint8_t> stblBoxes,
            std::string_view handler, bool tkhdLast)
{
    BoxBuilder tkhd;  // version 0: times, track_ID, reserved, duration, reserved, layer, group, volume, matrix
    tkhd.BeginFull("tkhd", 0, 3).U32(0).U32(0).U32(trackId).U32(0).U32(duration).Zeros(12);
    tkhd.U16(handler == "soun" ? 0x100 : 0).U16(0);
    for (uint32_t m : {0x10000u, 0u, 0u, 0u, 0x10000u, 0u, 0u, 0u, 0x40000000u})
        tkhd.U32(m);
    const Bytes8 trackHeader = tkhd.Zeros(8).End().Take();
    BoxBuilder b;
    b.Begin("trak").Bytes(tkhdLast ? Bytes8{} : trackHeader).Begin("mdia");
    b.BeginFull("mdhd", 0, 0).U32(0).U32(0).U32(timeScale).U32(duration).U16(0x55C4).U16(0).End();
    b.BeginFull("hdlr", 0, 0).U32(0).Type(handler).Zeros(12).Text("handler").End();
    b.Begin("minf").Begin("stbl").Bytes(stblBoxes).End().End().End();
    return b.Bytes(tkhdLast ? trackHeader : Bytes8{}).End().Take();
}

namespace {

Bytes8 Moov(const Mp4FileLayout& layout, uint32_t firstSampleOffset)
{
    BoxBuilder b;
    b.Begin("moov");
    b.BeginFull("mvhd", 0, 0).U32(layout.creationTime).U32(0).U32(1000).U32(0);
    b.U32(0x00010000).U16(0x0100).Zeros(10);
    for (uint32_t m : {0x10000u, 0u, 0u, 0u, 0x10000u, 0u, 0u, 0u, 0x40000000u})
        b.U32(m);
    b.Zeros(24).U32(layout.tracks.size() + 1).End();
    uint32_t offset = firstSampleOffset;
    for (const Mp4TrackLayout& t : layout.tracks) {
        const auto count = static_cast<uint32_t>(t.samples.size());
        BoxBuilder stbl;
        stbl.BeginFull("stsd", 0, 0).U32(t.sampleEntry.empty() ? 0 : 1).Bytes(t.sampleEntry).End();
        stbl.Bytes(WordsBox("stts", {1, count, t.sampleDelta})).Bytes(WordsBox("stsc", {1, 1, count, 1}));
        std::vector<uint32_t> sizes{0, count};
        for (const Bytes8& s : t.samples)
            sizes.push_back(static_cast<uint32_t>(s.size()));
        stbl.Bytes(WordsBox("stsz", sizes)).Bytes(WordsBox("stco", {1, offset}));
        b.Bytes(Trak(t.trackId, t.timeScale, count * t.sampleDelta, stbl.Take(), t.handler));
        for (const Bytes8& s : t.samples)
            offset += static_cast<uint32_t>(s.size());
    }
    return b.Bytes(layout.moovExtra).End().Take();
}

}  // namespace

Bytes8 Mp4File(const Mp4FileLayout& layout)
{
    BoxBuilder head;
    head.Begin("ftyp").Type("isom").U32(0x200).Type("isom").Type("mp41").End().Bytes(layout.topExtra);
    Bytes8 file = head.Take();
    const size_t moovSize = layout.moovFirst ? Moov(layout, 0).size() : 0;
    BoxBuilder mdat;
    mdat.Begin("mdat");
    for (const Mp4TrackLayout& t : layout.tracks)
        for (const Bytes8& s : t.samples)
            mdat.Bytes(s);
    const Bytes8 moov = Moov(layout, static_cast<uint32_t>(file.size() + moovSize + 8));
    const Bytes8 media = mdat.End().Take();
    Append(file, layout.moovFirst ? moov : media);
    Append(file, layout.moovFirst ? media : moov);
    return file;
}

Bytes8 UuidWithOlym(std::string_view userType, std::string_view makerText)
{
    BoxBuilder b;
    b.Begin("uuid").Type(userType).Zeros(12);
    return b.Begin("OLYM").Zeros(14).Text(makerText).Zeros(30 - makerText.size()).End().End().Take();
}

Bytes8 CameraMp4File(uint64_t creationTime, std::span<const uint8_t> thumbnail)
{
    BoxBuilder udta;
    udta.Begin("udta").Begin("thmb").U32(thumbnail.size()).Bytes(thumbnail).Zeros(8).End().End();
    Mp4FileLayout layout;
    layout.tracks = {{.sampleEntry = VisualEntry("jpeg", 640, 480), .samples = {Bytes8(64, 0x11), Bytes8(64, 0x11)}}};
    layout.topExtra = UuidWithOlym("cpgd", kCameraMaker);
    layout.moovExtra = udta.Take();
    layout.creationTime = creationTime;
    return Mp4File(layout);
}

Bytes8 MarkedThumbnail(Bytes8 bytes)
{
    const uint8_t marker[4] = {0xFF, 0xD8, 0xFF, 0xDB};
    std::copy(marker, marker + std::min<size_t>(4, bytes.size()), bytes.begin());
    return bytes;
}

}  // namespace mdtest
