#include "support/mp4_builders.h"

#include "support/bit_writer.h"

namespace mdtest {
namespace {

// rbsp_trailing_bits, then the NAL header and the payload with emulation prevention.
Bytes8 FinishNal(uint8_t header, BitWriter& w)
{
    w.PutBit(true);
    w.AlignZero();
    Bytes8 nal = EscapeRbsp(w.Take());
    nal.insert(nal.begin(), header);
    return nal;
}

// Bytes standing in for coded picture data; no 00 00 prefixes among them.
void PutFiller(BitWriter& w)
{
    w.AlignOnes();
    for (int i = 0; i < 24; ++i)
        w.Put(0xA5, 8);
}

BoxBuilder& Matrix(BoxBuilder& b)
{
    for (uint32_t m : {0x10000u, 0u, 0u, 0u, 0x10000u, 0u, 0u, 0u, 0x40000000u})
        b.U32(m);
    return b;
}

// An MPEG-4 descriptor: tag, a one-byte payload length (below 128), the payload.
Bytes8 Descriptor(uint8_t tag, std::span<const uint8_t> payload)
{
    return BoxBuilder().U8(tag).U8(payload.size()).Bytes(payload).Take();
}

// An 'esds' whose DecoderConfigDescriptor holds dsi (none when empty); ES_ID 1, SL predefined 2.
Bytes8 Esds(uint8_t objectType, uint32_t avgBitrate, std::span<const uint8_t> dsi)
{
    BoxBuilder config;  // streamType 5 (audio), upStream 0, reserved 1, bufferSize 0
    config.U8(objectType).U8(0x15).U8(0).U16(0).U32(avgBitrate).U32(avgBitrate);
    if (!dsi.empty())
        config.Bytes(Descriptor(5, dsi));
    const Bytes8 es = BoxBuilder().U16(1).U8(0).Bytes(Descriptor(4, config.Take())).Bytes(Bytes8{6, 1, 2}).Take();
    return BoxBuilder().BeginFull("esds", 0, 0).Bytes(Descriptor(3, es)).End().Take();
}

}  // namespace

Bytes8 AvcSpsNal(const AvcSpsFields& f)
{
    BitWriter w;
    w.Put(f.profileIdc, 8);
    w.Put(40, 16);  // constraint flags 0, level_idc 40
    w.PutUe(0);  // seq_parameter_set_id
    if (f.profileIdc == 100 || f.profileIdc == 110 || f.profileIdc == 122 || f.profileIdc == 144)
        w.Put(0b0101100, 7);  // chroma_format_idc 1, bit depths 0, no bypass, no scaling matrix
    w.PutUe(f.log2MaxFrameNumMinus4);
    w.PutUe(f.pocType);
    if (f.pocType == 0)
        w.PutUe(f.log2MaxPocLsbMinus4);
    w.Put(0b0100, 4);  // max_num_ref_frames 1, gaps_in_frame_num_value_allowed_flag 0
    w.PutUe(f.widthMbsMinus1);
    w.PutUe(f.heightMapUnitsMinus1);
    w.PutBit(f.frameMbsOnly);
    if (!f.frameMbsOnly)
        w.PutBit(f.mbAdaptiveFrameField);
    w.PutBit(true);  // direct_8x8_inference_flag
    w.PutBit(f.cropBottom != 0);
    if (f.cropBottom != 0) {
        w.Put(0b111, 3);  // left, right, top offsets 0
        w.PutUe(f.cropBottom);
    }
    w.PutBit(f.vui);
    if (f.vui) {
        w.PutBit(f.aspectInfo);
        if (f.aspectInfo)
            w.Put(f.aspectIdc, 8);
        if (f.aspectInfo && f.aspectIdc == 255)
            w.Put(uint32_t(f.sarWidth) << 16 | f.sarHeight, 32);
        w.Put(0, 8);  // no overscan, signal type, chroma location, timing, HRD, pic_struct, restriction
    }
    return FinishNal(0x67, w);
}

Bytes8 AvcPpsNal(const AvcPpsFields& f)
{
    BitWriter w;
    w.Put(0b1100 | f.bottomFieldPicOrderInFramePresent, 4);  // ids 0, CAVLC, bottom_field_pic_order_in_frame_present
    w.Put(0b111000111100, 12);  // slice groups, ref_idx, weighted pred, qp offsets 0; deblocking control present
    return FinishNal(0x68, w);
}

Bytes8 AvcSliceNal(const AvcSpsFields& sps, const AvcPpsFields& pps, const AvcSliceFields& f)
{
    BitWriter w;
    w.PutBit(true);  // first_mb_in_slice 0
    w.PutUe(f.idr ? 7 : 5);  // slice_type: I or P, all slices of the picture alike
    const unsigned frameNumBits = sps.log2MaxFrameNumMinus4 + 4;
    w.Put(uint64_t(1) << frameNumBits, frameNumBits + 1);  // pic_parameter_set_id 0, frame_num 0
    if (!sps.frameMbsOnly) {
        w.PutBit(f.fieldPic);
        if (f.fieldPic)
            w.PutBit(f.bottomField);
    }
    if (f.idr)
        w.PutUe(0);  // idr_pic_id
    if (sps.pocType == 0) {
        w.Put(f.pocLsb, sps.log2MaxPocLsbMinus4 + 4);
        if (pps.bottomFieldPicOrderInFramePresent && !f.fieldPic)
            w.PutSe(f.deltaPocBottom);
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
    w.Put(uint64_t(width) << 15 | 1 << 14 | height << 1 | 1, 28);  // width, marker, height, marker
    w.PutBit(interlaced);
    w.Put(0x100, 9);  // obmc_disable 1, sprite_enable .. scalability 0, next_start_code's zero bit
    w.AlignOnes();
    return w.Take();
}

Bytes8 Mpeg4IVopHeader(int timeIncrementBits, bool topFieldFirst)
{
    BitWriter w;
    w.Put(0x000001B6, 32);
    // vop_coding_type I, modulo_time_base 0, marker, vop_time_increment 0
    w.Put(uint64_t(1) << timeIncrementBits, 4 + timeIncrementBits);
    w.Put(0b1100000 | topFieldFirst << 1, 7);  // marker, vop_coded, intra_dc_vlc_thr 0, top_field_first, alternate 0
    PutFiller(w);
    return w.Take();
}

Bytes8 VisualEntry(std::string_view type, uint16_t width, uint16_t height, std::span<const uint8_t> children)
{
    BoxBuilder b;  // data_reference_index 1, 72 dpi, frame_count 1, compressorname, depth 24, pre_defined -1
    b.Begin(type).Zeros(6).U16(1).Zeros(16).U16(width).U16(height).U32(0x00480000).U32(0x00480000).U32(0).U16(1);
    return b.Zeros(32).U16(0x18).U16(0xFFFF).Bytes(children).End().Take();
}

Bytes8 SoundEntry(std::string_view type, uint16_t channels, uint16_t sampleSize, uint32_t sampleRate,
                  std::span<const uint8_t> children)
{
    BoxBuilder b;  // data_reference_index 1
    b.Begin(type).Zeros(6).U16(1).Zeros(8).U16(channels).U16(sampleSize).U32(0).U32(uint64_t(sampleRate) << 16);
    return b.Bytes(children).End().Take();
}

Bytes8 Avc1Entry(uint16_t width, uint16_t height, const std::vector<Bytes8>& sps, const std::vector<Bytes8>& pps)
{
    BoxBuilder b;  // profile 100, level 40, 4-byte NAL lengths
    b.Begin("avcC").U8(1).U8(100).U8(0).U8(40).U8(0xFF).U8(0xE0 | sps.size());
    for (const Bytes8& s : sps)
        b.U16(s.size()).Bytes(s);
    b.U8(pps.size());
    for (const Bytes8& p : pps)
        b.U16(p.size()).Bytes(p);
    return VisualEntry("avc1", width, height, b.End().Take());
}

Bytes8 Mp4vEntry(uint16_t width, uint16_t height, std::span<const uint8_t> dsi, uint32_t avgBitrate,
                 uint8_t objectType)
{
    return VisualEntry("mp4v", width, height, Esds(objectType, avgBitrate, dsi));
}

Bytes8 Mp4aEntry(uint16_t channels, uint16_t sampleSize, uint32_t sampleRate, uint8_t objectType, uint32_t avgBitrate,
                 std::span<const uint8_t> dsi)
{
    return SoundEntry("mp4a", channels, sampleSize, sampleRate, Esds(objectType, avgBitrate, dsi));
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
            std::string_view handler, std::optional<uint32_t> presented)
{
    BoxBuilder b;  // tkhd version 0: times, track_ID, reserved, duration, reserved, layer, group, volume, matrix
    b.Begin("trak").BeginFull("tkhd", 0, 3).U32(0).U32(0).U32(trackId).U32(0).U32(presented.value_or(duration));
    Matrix(b.Zeros(12).U16(handler == "soun" ? 0x100 : 0).U16(0)).Zeros(8).End();
    if (presented)  // one edit: segment_duration, media_time 0, media_rate 1.0
        b.Begin("edts").Bytes(WordsBox("elst", {1, *presented, 0, 0x10000})).End();
    b.Begin("mdia");
    b.BeginFull("mdhd", 0, 0).U32(0).U32(0).U32(timeScale).U32(duration).U16(0x55C4).U16(0).End();
    b.BeginFull("hdlr", 0, 0).U32(0).Type(handler).Zeros(12).Text("handler").End();
    return b.Begin("minf").Begin("stbl").Bytes(stblBoxes).End().End().End().End().Take();
}

Bytes8 Mp4File(const Mp4FileLayout& layout)
{
    BoxBuilder b;
    if (!layout.moovOnly)
        b.Begin("ftyp").Type("isom").U32(0x200).Type("isom").Type("mp41").End().Bytes(layout.topExtra);
    b.Begin("moov").BeginFull("mvhd", 0, 0).U32(layout.creationTime).U32(0).U32(1000).U32(0);
    Matrix(b.U32(0x00010000).U16(0x0100).Zeros(10)).Zeros(24).U32(layout.tracks.size() + 1).End();
    Bytes8 media;
    std::vector<size_t> stcoAt;  // where each track's chunk offset goes
    for (const Mp4TrackLayout& t : layout.tracks) {
        const auto count = static_cast<uint32_t>(t.samples.size());
        BoxBuilder stbl;
        stbl.BeginFull("stsd", 0, 0).U32(t.sampleEntry.empty() ? 0 : 1).Bytes(t.sampleEntry).End();
        std::vector<uint32_t> stts = {1, count, t.sampleDelta};
        if (!t.stts.empty()) {
            stts = {static_cast<uint32_t>(t.stts.size() / 2)};
            stts.insert(stts.end(), t.stts.begin(), t.stts.end());
        }
        stbl.Bytes(WordsBox("stts", stts)).Bytes(WordsBox("stsc", {1, 1, count, 1}));
        std::vector<uint32_t> sizes{0, count};
        for (const Bytes8& s : t.samples)
            sizes.push_back(static_cast<uint32_t>(s.size()));
        stbl.Bytes(WordsBox("stsz", sizes)).Bytes(WordsBox("stco", {1, static_cast<uint32_t>(media.size())}));
        const Bytes8 trak = Trak(t.trackId, t.timeScale, count * t.sampleDelta, stbl.Take(), t.handler, t.presented);
        stcoAt.push_back(b.Size() + trak.size() - 4);
        b.Bytes(trak);
        for (const Bytes8& s : t.samples)
            media.insert(media.end(), s.begin(), s.end());
    }
    b.Bytes(layout.moovExtra).End();
    if (layout.moovOnly)
        return b.Take();  // the chunk offsets point at media that is not there
    const size_t mediaStart = b.Size() + 8;
    Bytes8 file = b.Begin("mdat").Bytes(media).End().Take();
    for (size_t at : stcoAt) {  // chunk offsets were relative to the media data
        const uint32_t offset = (uint32_t(file[at]) << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3]);
        const uint32_t moved = offset + static_cast<uint32_t>(mediaStart);
        for (int i = 0; i < 4; ++i)
            file[at + i] = static_cast<uint8_t>(moved >> (24 - 8 * i));
    }
    return file;
}

Bytes8 CameraMp4File(uint64_t creationTime, std::span<const uint8_t> thumbnail)
{
    BoxBuilder uuid, udta;
    uuid.Begin("uuid").Type("cpgd").Zeros(12).Begin("OLYM").Zeros(14).Text(kCameraMaker);
    uuid.Zeros(30 - sizeof(kCameraMaker) + 1).End().End();
    udta.Begin("udta").Begin("thmb").U32(thumbnail.size()).Bytes(thumbnail).Zeros(8).End().End();
    Mp4FileLayout layout{.creationTime = static_cast<uint32_t>(creationTime), .moovExtra = udta.Take(),
                         .topExtra = uuid.Take()};
    layout.tracks = {{.sampleEntry = VisualEntry("jpeg", 640, 480), .samples = {Bytes8(64, 0x11), Bytes8(64, 0x11)}}};
    return Mp4File(layout);
}

Bytes8 MarkedThumbnail(Bytes8 bytes)
{
    for (size_t i = 0; i < 4 && i < bytes.size(); ++i)
        bytes[i] = uint8_t("\xFF\xD8\xFF\xDB"[i]);
    return bytes;
}

}  // namespace mdtest
