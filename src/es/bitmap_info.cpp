#include "es/bitmap_info.h"

#include <algorithm>
#include <cctype>

namespace md {
namespace {

struct FourCCCodec {
    char fourCC[5];
    StreamCodec codec;
};

// Compared without regard to case: writers spell most of these both ways.
constexpr FourCCCodec kCodecs[] = {
    {"DIVX", StreamCodec::Mpeg4Video},  {"DX50", StreamCodec::Mpeg4Video},  {"XVID", StreamCodec::Mpeg4Video},
    {"FMP4", StreamCodec::Mpeg4Video},  {"MP4V", StreamCodec::Mpeg4Video},  {"3IV2", StreamCodec::Mpeg4Video},
    {"MP4S", StreamCodec::Mpeg4Video},  {"M4S2", StreamCodec::Mpeg4Video},
    {"DIV3", StreamCodec::MsMpeg4},     {"DIV4", StreamCodec::MsMpeg4},     {"MP43", StreamCodec::MsMpeg4},
    {"MP42", StreamCodec::MsMpeg4},     {"MPG4", StreamCodec::MsMpeg4},     {"MP41", StreamCodec::MsMpeg4},
    {"H264", StreamCodec::H264Ts},      {"X264", StreamCodec::H264Ts},      {"AVC1", StreamCodec::H264Ts},
    {"DAVC", StreamCodec::H264Ts},      {"HEVC", StreamCodec::Hevc},        {"H265", StreamCodec::Hevc},
    {"HVC1", StreamCodec::Hevc},        {"MJPG", StreamCodec::Jpeg},        {"AVRN", StreamCodec::Jpeg},
    {"LJPG", StreamCodec::Jpeg},        {"JPEG", StreamCodec::Jpeg},        {"DMB1", StreamCodec::Jpeg},
    {"DVSD", StreamCodec::DvVideo},     {"DV25", StreamCodec::DvVideo},     {"DV50", StreamCodec::DvVideo},
    {"DVHD", StreamCodec::DvVideo},     {"DVSL", StreamCodec::DvVideo},     {"CDVC", StreamCodec::DvVideo},
    {"CDVH", StreamCodec::DvVideo},     {"MPG1", StreamCodec::Mpeg1Video},  {"PIM1", StreamCodec::Mpeg1Video},
    {"MPG2", StreamCodec::Mpeg2Video},  {"MPEG", StreamCodec::Mpeg2Video},  {"MMES", StreamCodec::Mpeg2Video},
    {"HFYU", StreamCodec::HuffYuv},     {"FFVH", StreamCodec::HuffYuv},     {"WMV1", StreamCodec::Wmv},
    {"WMV2", StreamCodec::Wmv},         {"WMV3", StreamCodec::Wmv},         {"WVC1", StreamCodec::Vc1},
    {"WMVA", StreamCodec::Vc1},         {"FFV1", StreamCodec::Ffv1},        {"VP80", StreamCodec::Vp8},
    {"VP90", StreamCodec::Vp9},         {"AV01", StreamCodec::Av1},         {"CVID", StreamCodec::Cinepak},
    {"FLV1", StreamCodec::Flv1},        {"VP6F", StreamCodec::Vp6},         {"VP60", StreamCodec::Vp6},
    {"VP61", StreamCodec::Vp6},         {"VP62", StreamCodec::Vp6},         {"MJ2C", StreamCodec::Jpeg2000},
    {"AVDN", StreamCodec::DnxHd},       {"H263", StreamCodec::H263},        {"S263", StreamCodec::H263},
    {"U263", StreamCodec::H263},        {"RGB ", StreamCodec::RawVideo},    {"RAW ", StreamCodec::RawVideo},
    {"YV12", StreamCodec::RawVideo},    {"I420", StreamCodec::RawVideo},    {"UYVY", StreamCodec::RawVideo},
    {"YUY2", StreamCodec::RawVideo},    {"Y800", StreamCodec::RawVideo},
};

uint32_t Upper(uint32_t fourCC)
{
    uint32_t out = 0;
    for (int shift = 24; shift >= 0; shift -= 8)
        out = out << 8 | uint32_t(std::toupper(int(fourCC >> shift & 0xFF)));
    return out;
}

}  // namespace

bool ParseBitmapInfo(Bytes b, BitmapInfo& out)
{
    out = {};
    const uint32_t size = Le32At(b, 0);
    if (!Has(b, 0, 40) || size < 40)
        return false;
    const auto height = static_cast<int32_t>(Le32At(b, 8));
    out.width = Le32At(b, 4);
    out.height = height < 0 ? 0u - static_cast<uint32_t>(height) : static_cast<uint32_t>(height);
    out.bitCount = static_cast<uint16_t>(Le16At(b, 14));
    out.compression = Be32At(b, 16);
    out.extra = b.subspan(40, std::min<size_t>(size, b.size()) - 40);
    return out.width != 0 && out.height != 0 && out.width <= 0x10000 && out.height <= 0x10000;
}

StreamCodec BitmapCodec(uint32_t compression)
{
    if (compression == 0)  // BI_RGB
        return StreamCodec::RawVideo;
    const uint32_t upper = Upper(compression);
    for (const FourCCCodec& c : kCodecs)
        if (FourCC(c.fourCC) == upper)
            return c.codec;
    return StreamCodec::VfwVideo;
}

}  // namespace md
