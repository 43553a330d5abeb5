// The system stream decoders and the pack checkers over arbitrary bytes: both
// decoders are fed pieces whose sizes come from the input itself, with the
// current streams' units walked between feeds and every stream's at the end, and
// both pack checkers scan the bytes in two parts as the time-table walk
// presents them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mpeg/pack_check.h"
#include "mpeg/system_decoder.h"

namespace {

// A small input buffer, so that waiting for data and running full are reached.
constexpr int32_t kCapacity = 8192;
// Larger inputs are cut: the decoders' work grows linearly and nothing new
// happens past the first megabyte.
constexpr size_t kMaxInput = 1u << 20;

void WalkUnits(md::CMpegMuxDec& decoder, bool video, int32_t index, std::vector<uint8_t>& work)
{
    if (index < 0)
        return;
    video ? decoder.TakeVideo(index, work) : decoder.TakeAudio(index, work);
    md::MuxUnitInfo unit{};
    while (decoder.NextUnit(unit) != 0) {
    }
}

// After each feed the units of the streams the decoder names, as the time-range
// scans take them; at the end every stream's.
void WalkCurrent(md::CMpegMuxDec& decoder, std::vector<uint8_t>& work)
{
    WalkUnits(decoder, true, decoder.FirstVideoStream(), work);
    WalkUnits(decoder, false, decoder.CurrentAudioStream(), work);
    decoder.AudioUnitSize();
}

void WalkAll(md::CMpegMuxDec& decoder, std::vector<uint8_t>& work)
{
    for (int32_t i = 0; i < md::CMpegMuxDec::kVideoStreams; ++i)
        WalkUnits(decoder, true, i, work);
    for (int32_t i = 0; i < md::CMpegMuxDec::kAudioStreams; ++i)
        WalkUnits(decoder, false, i, work);
}

void Decode(md::CMpegMuxDec& decoder, const uint8_t* data, size_t size, std::vector<uint8_t>& work)
{
    decoder.BeginStream();
    size_t at = 0;
    // Each piece's size comes from the byte at its start.
    while (at < size) {
        const size_t piece = std::min<size_t>(size - at, 1 + size_t(data[at]) * 37);
        decoder.Feed(data + at, static_cast<uint32_t>(piece));
        WalkCurrent(decoder, work);
        at += piece;
    }
    WalkAll(decoder, work);
    decoder.EndStream();
}

void Check(md::MpegPackCheck& checker, const uint8_t* data, size_t size)
{
    checker.SetInspect(true);
    md::PackEntryList entries;
    const auto length = static_cast<uint32_t>(size);
    const uint32_t consumed = checker.ScanPacks(data, length / 2, &entries, false);
    checker.ScanPacks(data + consumed, length - consumed, &entries, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size = std::min(size, kMaxInput);
    std::vector<uint8_t> work(kCapacity);
    md::MPEG1SystemDec_c mpeg1(kCapacity);
    Decode(mpeg1, data, size, work);
    md::MPEG2SystemDec_c mpeg2(kCapacity);
    Decode(mpeg2, data, size, work);
    md::MPEG2SystemDec_c timed(kCapacity);
    timed.SetSubStreamTiming(true);
    Decode(timed, data, size, work);
    md::MPEG2SystemDec_c mpeg4(kCapacity);
    mpeg4.SetMpeg4Video(true);
    mpeg4.SetStreamRemap(true);
    mpeg4.SetVideoStreamId(0xE1);
    mpeg4.SetAudioStreamIds(0xC1, 0x81);
    Decode(mpeg4, data, size, work);

    md::Mpeg1PackCheck check1;
    Check(check1, data, size);
    md::Mpeg2PackCheck check2;
    Check(check2, data, size);
    return 0;
}
