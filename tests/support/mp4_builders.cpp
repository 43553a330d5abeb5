#include "support/mp4_builders.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "support/box_builder.h"

namespace mdtest {
namespace {

// Inserts emulation_prevention_three_byte wherever two zero bytes are followed
// by a byte of 3 or less (ISO/IEC 14496-10 7.4.1).
Bytes8 Escape(const Bytes8& rbsp)
{
    Bytes8 out;
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

// rbsp_trailing_bits, then the NAL header in front of the escaped payload.
Bytes8 FinishNal(uint8_t header, BitWriter& w)
{
    w.PutBit(true);
    w.AlignZero();
    Bytes8 nal{header};
    const Bytes8 payload = Escape(w.Take());
    nal.insert(nal.end(), payload.begin(), payload.end());
    return nal;
}

void PutStartCode(BitWriter& w, uint8_t code)
{
    const uint8_t bytes[4] = {0, 0, 1, code};
    w.PutBytes(bytes);
}

// Bytes standing in for coded picture data; no 00 00 prefixes among them.
void PutFiller(BitWriter& w)
{
    w.AlignOnes();
    for (int i = 0; i < 24; ++i)
        w.Put(0xA5, 8);
}

void Append(Bytes8& out, std::span<const uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

uint32_t SampleBytes(const Mp4TrackLayout& t)
{
    uint32_t n = 0;
    for (const Bytes8& s : t.samples)
        n += static_cast<uint32_t>(s.size());
    return n;
}

// One 'trak' whose single chunk starts at chunkOffset.
void PutTrack(BoxBuilder& b, const Mp4TrackLayout& t, uint32_t chunkOffset)
{
    if (t.handler.size() != 4)
        throw std::invalid_argument("Mp4TrackLayout: a handler type has four characters");
    const auto count = static_cast<uint32_t>(t.samples.size());
    const uint32_t duration = count * t.sampleDelta;
    const bool video = t.handler == "vide";
    b.Begin("trak");
    b.BeginFull("tkhd", 0, 3).U32(0).U32(0).U32(t.trackId).U32(0).U32(duration);
    b.Zeros(8).U16(0).U16(0).U16(video ? 0 : 0x0100).U16(0);  // reserved, layer, group, volume
    for (uint32_t m : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u})
        b.U32(m);
    b.U32(0).U32(0).End();
    b.Begin("mdia");
    b.BeginFull("mdhd", 0, 0).U32(0).U32(0).U32(t.timeScale).U32(duration).U16(0x55C4).U16(0).End();
    b.BeginFull("hdlr", 0, 0).U32(0).Type(t.handler).Zeros(12).Text("handler").End();
    b.Begin("minf");
    if (video)
        b.BeginFull("vmhd", 0, 1).Zeros(8).End();
    else
        b.BeginFull("smhd", 0, 0).Zeros(4).End();
    b.Begin("stbl");
    b.BeginFull("stsd", 0, 0).U32(t.sampleEntry.empty() ? 0 : 1).Bytes(t.sampleEntry).End();
    b.BeginFull("stts", 0, 0).U32(1).U32(count).U32(t.sampleDelta).End();
    b.BeginFull("stsc", 0, 0).U32(1).U32(1).U32(count).U32(1).End();
    b.BeginFull("stsz", 0, 0).U32(0).U32(count);
    for (const Bytes8& s : t.samples)
        b.U32(static_cast<uint32_t>(s.size()));
    b.End();
    b.BeginFull("stco", 0, 0).U32(1).U32(chunkOffset).End();
    b.End().End().End().End();  // stbl, minf, mdia, trak
}

Bytes8 Moov(const Mp4FileLayout& layout, uint32_t firstSampleOffset)
{
    BoxBuilder b;
    b.Begin("moov");
    if (layout.creationTime > UINT32_MAX)
        b.BeginFull("mvhd", 1, 0).U64(layout.creationTime).U64(layout.creationTime).U32(1000).U64(0);
    else
        b.BeginFull("mvhd", 0, 0).U32(static_cast<uint32_t>(layout.creationTime)).U32(0).U32(1000).U32(0);
    b.U32(0x00010000).U16(0x0100).Zeros(10);
    for (uint32_t m : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u})
        b.U32(m);
    b.Zeros(24).U32(static_cast<uint32_t>(layout.tracks.size() + 1)).End();
    uint32_t offset = firstSampleOffset;
    for (const Mp4TrackLayout& t : layout.tracks) {
        PutTrack(b, t, offset);
        offset += SampleBytes(t);
    }
    b.Bytes(layout.moovExtra);
    b.End();
    return b.Take();
}

Bytes8 Ftyp()
{
    BoxBuilder b;
    b.Begin("ftyp").Type("isom").U32(0x200).Type("isom").Type("mp41").End();
    return b.Take();
}

}  // namespace

void PutUe(BitWriter& w, uint64_t v)
{
    const uint64_t code = v + 1;
    unsigned bits = 0;
    while ((code >> bits) > 1)
        ++bits;
    w.Put(0, bits);
    w.Put(code, bits + 1);
}

void PutSe(BitWriter& w, int64_t v) { PutUe(w, v > 0 ? uint64_t(2 * v - 1) : uint64_t(-2 * v)); }

Bytes8 AvcSpsNal(const AvcSpsFields& f)
{
    BitWriter w;
    w.Put(f.profileIdc, 8);
    w.Put(0, 8);   // constraint_set flags, reserved_zero_4bits
    w.Put(40, 8);  // level_idc
    PutUe(w, 0);   // seq_parameter_set_id
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
        PutUe(w, 0);
        PutUe(w, 0);
        PutUe(w, 0);
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
        // overscan, video signal type, chroma location, timing, NAL HRD, VCL HRD,
        // pic_struct and bitstream restriction: none present.
        w.Put(0, 8);
    }
    return FinishNal(0x67, w);
}

Bytes8 AvcPpsNal(const AvcPpsFields& f)
{
    BitWriter w;
    PutUe(w, 0);      // pic_parameter_set_id
    PutUe(w, 0);      // seq_parameter_set_id
    w.PutBit(false);  // entropy_coding_mode_flag
    w.PutBit(f.bottomFieldPicOrderInFramePresent);
    PutUe(w, 0);      // num_slice_groups_minus1
    PutUe(w, 0);      // num_ref_idx_l0_default_active_minus1
    PutUe(w, 0);      // num_ref_idx_l1_default_active_minus1
    w.PutBit(false);  // weighted_pred_flag
    w.Put(0, 2);      // weighted_bipred_idc
    PutSe(w, 0);      // pic_init_qp_minus26
    PutSe(w, 0);      // pic_init_qs_minus26
    PutSe(w, 0);      // chroma_qp_index_offset
    w.PutBit(true);   // deblocking_filter_control_present_flag
    w.PutBit(false);  // constrained_intra_pred_flag
    w.PutBit(false);  // redundant_pic_cnt_present_flag
    return FinishNal(0x68, w);
}

Bytes8 AvcSliceNal(const AvcSpsFields& sps, const AvcPpsFields& pps, const AvcSliceFields& f)
{
    BitWriter w;
    PutUe(w, 0);                 // first_mb_in_slice
    PutUe(w, f.idr ? 7 : 5);     // slice_type: I or P, all slices of the picture alike
    PutUe(w, 0);                 // pic_parameter_set_id
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
    Bytes8 out;
    for (const Bytes8& nal : nalUnits) {
        const auto n = static_cast<uint32_t>(nal.size());
        const uint8_t length[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
        Append(out, length);
        Append(out, nal);
    }
    return out;
}

Bytes8 Mpeg4Vol(uint32_t width, uint32_t height, uint16_t timeIncrementResolution, bool interlaced,
                uint8_t aspectInfo, uint8_t parWidth, uint8_t parHeight)
{
    BitWriter w;
    PutStartCode(w, 0x20);
    w.Put(0, 1);  // random_accessible_vol
    w.Put(1, 8);  // video_object_type_indication: simple object
    w.Put(0, 1);  // is_object_layer_identifier
    w.Put(aspectInfo, 4);
    if (aspectInfo == 15) {
        w.Put(parWidth, 8);
        w.Put(parHeight, 8);
    }
    w.Put(0, 1);  // vol_control_parameters
    w.Put(0, 2);  // video_object_layer_shape: rectangular
    w.Put(1, 1);  // marker
    w.Put(timeIncrementResolution, 16);
    w.Put(1, 1);  // marker
    w.Put(0, 1);  // fixed_vop_rate
    w.Put(1, 1);  // marker
    w.Put(width, 13);
    w.Put(1, 1);  // marker
    w.Put(height, 13);
    w.Put(1, 1);  // marker
    w.PutBit(interlaced);
    w.Put(1, 1);  // obmc_disable
    w.Put(0, 7);  // sprite_enable, not_8_bit, quant_type, ..., scalability
    w.Put(0, 1);  // next_start_code
    w.AlignOnes();
    return w.Take();
}

Bytes8 Mpeg4IVopHeader(int timeIncrementBits, bool topFieldFirst)
{
    BitWriter w;
    PutStartCode(w, 0xB6);
    w.Put(0, 2);  // vop_coding_type: I
    w.Put(0, 1);  // modulo_time_base: no whole seconds
    w.Put(1, 1);  // marker
    w.Put(0, static_cast<unsigned>(timeIncrementBits));
    w.Put(1, 1);  // marker
    w.Put(1, 1);  // vop_coded
    w.Put(0, 3);  // intra_dc_vlc_thr
    w.PutBit(topFieldFirst);
    w.Put(0, 1);  // alternate_vertical_scan_flag
    PutFiller(w);
    return w.Take();
}

Bytes8 Mpeg4GovHeader()
{
    BitWriter w;
    PutStartCode(w, 0xB3);
    w.Put(0, 11);  // time_code_hours, time_code_minutes
    w.Put(1, 1);   // marker
    w.Put(0, 6);   // time_code_seconds
    w.Put(1, 1);   // closed_gov
    w.Put(0, 1);   // broken_link
    w.Put(0, 1);   // next_start_code: a zero bit, then ones to the byte boundary
    w.AlignOnes();
    return w.Take();
}

Bytes8 Avc1Entry(uint16_t width, uint16_t height, const std::vector<Bytes8>& sps, const std::vector<Bytes8>& pps,
                 uint8_t profileIndication)
{
    BoxBuilder b;
    b.Begin("avc1");
    PutVisualEntryFields(b, width, height);
    b.Begin("avcC").U8(1).U8(profileIndication).U8(0).U8(40).U8(0xFF);  // 4-byte NAL lengths
    b.U8(0xE0 | static_cast<uint32_t>(sps.size()));
    for (const Bytes8& s : sps)
        b.U16(static_cast<uint32_t>(s.size())).Bytes(s);
    b.U8(static_cast<uint32_t>(pps.size()));
    for (const Bytes8& p : pps)
        b.U16(static_cast<uint32_t>(p.size())).Bytes(p);
    b.End().End();
    return b.Take();
}

Bytes8 Mp4vEntry(uint16_t width, uint16_t height, std::span<const uint8_t> dsi, uint32_t avgBitrate)
{
    BoxBuilder b;
    b.Begin("mp4v");
    PutVisualEntryFields(b, width, height);
    b.BeginFull("esds", 0, 0).Bytes(EsDescriptor(0x20, 0, avgBitrate, avgBitrate, dsi)).End();
    b.End();
    return b.Take();
}

Bytes8 Mp4aEntry(uint16_t channels, uint16_t sampleSize, uint32_t sampleRate, uint8_t objectType,
                 uint32_t avgBitrate, std::span<const uint8_t> dsi)
{
    BoxBuilder b;
    b.Begin("mp4a");
    PutAudioEntryFields(b, channels, sampleSize, sampleRate);
    b.BeginFull("esds", 0, 0).Bytes(EsDescriptor(objectType, 0, avgBitrate, avgBitrate, dsi)).End();
    b.End();
    return b.Take();
}

Bytes8 SoundEntry(const char (&type)[5], uint16_t channels, uint16_t sampleSize, uint32_t sampleRate)
{
    BoxBuilder b;
    b.Begin(type);
    PutAudioEntryFields(b, channels, sampleSize, sampleRate);
    b.End();
    return b.Take();
}

Bytes8 VisualEntry(const char (&type)[5], uint16_t width, uint16_t height)
{
    BoxBuilder b;
    b.Begin(type);
    PutVisualEntryFields(b, width, height);
    b.End();
    return b.Take();
}

Bytes8 S263Entry(uint16_t width, uint16_t height, uint8_t level, uint8_t profile)
{
    BoxBuilder b;
    b.Begin("s263");
    PutVisualEntryFields(b, width, height);
    b.Begin("d263").Type("test").U8(0).U8(level).U8(profile).End();
    b.End();
    return b.Take();
}

uint64_t Mp4FirstSampleOffset(const Mp4FileLayout& layout, size_t track)
{
    uint64_t offset = Ftyp().size() + layout.topExtra.size();
    if (layout.moovFirst)
        offset += Moov(layout, 0).size();
    offset += 8;  // the 'mdat' header
    for (size_t i = 0; i < track && i < layout.tracks.size(); ++i)
        offset += SampleBytes(layout.tracks[i]);
    return offset;
}

Bytes8 Mp4File(const Mp4FileLayout& layout)
{
    const auto firstSample = static_cast<uint32_t>(Mp4FirstSampleOffset(layout, 0));
    BoxBuilder mdat;
    mdat.Begin("mdat");
    for (const Mp4TrackLayout& t : layout.tracks)
        for (const Bytes8& s : t.samples)
            mdat.Bytes(s);
    mdat.End();

    Bytes8 file = Ftyp();
    Append(file, layout.topExtra);
    const Bytes8 moov = Moov(layout, firstSample);
    const Bytes8 media = mdat.Take();
    Append(file, layout.moovFirst ? moov : media);
    Append(file, layout.moovFirst ? media : moov);
    return file;
}

Bytes8 UuidWithOlym(const char (&userType)[5], const char* makerText)
{
    BoxBuilder b;
    b.Begin("uuid").Type(userType).Zeros(12);
    b.Begin("OLYM").Zeros(14).Text(makerText).Zeros(30 - std::string_view(makerText).size()).End();
    b.End();
    return b.Take();
}

Bytes8 CameraMp4File(uint64_t creationTime, std::span<const uint8_t> thumbnail)
{
    BoxBuilder udta;
    udta.Begin("udta").Begin("thmb").U32(uint32_t(thumbnail.size())).Bytes(thumbnail).Zeros(8).End().End();
    Mp4TrackLayout video;
    video.sampleEntry = VisualEntry("jpeg", 640, 480);
    video.samples.assign(2, Bytes8(64, 0x11));
    Mp4FileLayout layout;
    layout.tracks = {video};
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
