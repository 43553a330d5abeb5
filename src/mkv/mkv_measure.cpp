// Measurements of the selected tracks: start and end times, bit rates and the
// headers of the first frame (the video's; TrueHD's major sync, and with
// MD_EXT_MATROSKA_CODECS the AC-3, E-AC-3 and DTS headers), each found by a frame
// search from the cue points.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include <matroska/KaxCuesData.h>
#include <matroska/KaxSemantic.h>

#include "es/audio_headers.h"
#include "es/mpeg_video.h"
#include "es/start_code.h"
#include "mkv/ebml_reader.h"
#include "mkv/mkv_demux.h"
#include "mkv/mkv_frame_search.h"
#include "mkv/mkv_tracks.h"
#include "mkv/mkv_values.h"

namespace md {

using namespace libmatroska;
using namespace mkv;

namespace {

// A TrueHD or MLP access unit opens with check_nibble and access_unit_length (16 bits) and input_timing (16
// bits); the major sync follows where the unit carries one, as the first unit of a stream does.
constexpr uint32_t kAccessUnitHead = 4;

// Channels, rate and layout from the major sync of a TrueHD track's first frame; without one the record keeps
// the track's values.
void ApplyMajorSync(Bytes frame, StreamRecord& r)
{
    AudioFormat format{};
    MlpInfo info{};
    uint32_t pcmBytes = 0;
    if (frame.size() <= kAccessUnitHead ||
        !ParseMlpHeader(frame.data() + kAccessUnitHead, static_cast<uint32_t>(frame.size() - kAccessUnitHead), format,
                        info, pcmBytes))
        return;
    r.audio.channels = format.channels;
    r.audio.sampleRate = format.sampleRate;
    // The channel layout and the LFE flag where AC-3 records keep acmod and lfeon.
    r.audio.codecSpecific[0] = info.channelLayout;
    r.audio.codecSpecific[2] = info.lfe;
}

// The highest bsid of AC-3 (A/52 4.4.2.1); E-AC-3 has 11 to 16.
constexpr uint32_t kMaxAc3Bsid = 8;

// acmod, lfeon and bsid of the AC-3 syncframe that opens an A_AC3 frame, in the codec words AC-3 records keep
// them in; the speakers follow from acmod and lfeon.
void ApplyAc3Syncframe(Bytes frame, StreamRecord& r)
{
    AudioFormat format{};
    Ac3Info info{};
    uint32_t words = 0;
    if (!ParseAc3Header(frame.data(), static_cast<uint32_t>(frame.size()), format, info, words) ||
        info.bsid > kMaxAc3Bsid)
        return;
    r.audio.codecSpecific[0] = info.acmod;
    r.audio.codecSpecific[2] = info.lfeon;
    r.audio.codecSpecific[4] = info.bsid;
}

// An A_EAC3 frame is the syncframes of one time slice: the independent substream's, then those of the dependent
// substreams that add channels to it (7.1: 5.1 and a dependent substream with the back pair). The words are those
// of the independent syncframe, as for AC-3; the dependent ones' channel maps, when they have any, give the
// speakers.
constexpr uint32_t kEac3DependentSubstream = 1;
constexpr uint32_t kMaxEac3Syncframes = 16;  // substreamid has 3 bits: eight substreams of each type at most

void ApplyEac3Syncframes(Bytes frame, StreamRecord& r)
{
    AudioFormat format{};
    Eac3Info first{};
    if (!ParseEac3Header(frame.data(), static_cast<uint32_t>(frame.size()), format, first) ||
        first.strmtyp == kEac3DependentSubstream)
        return;
    r.audio.codecSpecific[0] = first.acmod;
    r.audio.codecSpecific[2] = first.lfeon;
    r.audio.codecSpecific[4] = first.bsid;
    uint32_t chanmap = 0;
    size_t pos = first.frameBytes;
    for (uint32_t n = 1; n < kMaxEac3Syncframes && pos < frame.size(); ++n) {
        Eac3Info next{};
        if (!ParseEac3Header(frame.data() + pos, static_cast<uint32_t>(frame.size() - pos), format, next) ||
            next.strmtyp != kEac3DependentSubstream)
            break;
        chanmap |= next.chanmap;
        pos += next.frameBytes;
    }
    if (chanmap != 0) {
        uint32_t channels = 0;
        r.audio.channelMask = Eac3ChanmapSpeakers(Eac3ChanmapOfAcmod(first.acmod, first.lfeon) | chanmap, channels);
        r.audio.channels = channels;
    }
}

// The core header that opens an A_DTS frame: its speakers (AMODE, the XCh centre surround, LFF), and the LFE flag
// where AC-3 records keep lfeon.
constexpr uint32_t kDtsStoredHeaderBytes = 20;  // 16 bytes of the 16-bit form even from 14-bit words
constexpr uint32_t kDtsHeaderBytes = 16;

void ApplyDtsCore(Bytes frame, StreamRecord& r)
{
    const auto stored = static_cast<uint32_t>(std::min<size_t>(frame.size(), kDtsStoredHeaderBytes));
    const DtsWordForm form = DtsCoreSync(frame.data(), stored);
    if (form == DtsWordForm::None)
        return;
    uint8_t header[kDtsHeaderBytes] = {};
    DtsCoreHeader core{};
    if (!ParseDtsCoreHeader(header, DtsWordsToBe16(frame.data(), stored, form, header, kDtsHeaderBytes), core))
        return;
    r.audio.channelMask = core.channelMask;
    r.audio.codecSpecific[0] = form == DtsWordForm::Le16 || form == DtsWordForm::Le14 ? kDtsReversedSync : 0;
    r.audio.codecSpecific[2] = core.lfe;
}

// Whether the selected audio track's first frame is read: TrueHD's major sync (only extensions describe the
// codec), and with MD_EXT_MATROSKA_CODECS the AC-3, E-AC-3 and DTS headers that give the speakers.
bool ReadsFirstAudioFrame(StreamCodec codec, uint32_t extensions)
{
    if (codec == StreamCodec::TsAudio83)
        return true;
    return (extensions & MD_EXT_MATROSKA_CODECS) != 0 &&
           (codec == StreamCodec::Ac3 || codec == StreamCodec::Eac3 || codec == StreamCodec::Dts);
}

void ApplyAudioFrame(Bytes frame, StreamRecord& r)
{
    switch (r.codec) {
    case StreamCodec::TsAudio83: ApplyMajorSync(frame, r); break;
    case StreamCodec::Ac3: ApplyAc3Syncframe(frame, r); break;
    case StreamCodec::Eac3: ApplyEac3Syncframes(frame, r); break;
    case StreamCodec::Dts: ApplyDtsCore(frame, r); break;
    default: break;
    }
}

}  // namespace

int64_t MKVDemux::ToTime(int64_t timecode, double trackScale) const
{
    return SaturateToInt64(static_cast<double>(timecode) * trackScale * static_cast<double>(m_timecodeScale) / 100);
}

void MKVDemux::MeasureSelectedTracks(ZPMP::InputStream& input, std::vector<TrackInfo>& tracks)
{
    TrackInfo* video = nullptr;
    TrackInfo* audio = nullptr;
    for (TrackInfo& t : tracks) {
        if (!video && t.record->streamClass == StreamClass::Video && t.record->streamId == m_selection[0])
            video = &t;
        if (!audio && t.record->streamClass == StreamClass::Audio && t.record->streamId == m_selection[2])
            audio = &t;
    }
    const std::vector<const KaxCuePoint*> cues = ListCuePoints(m_cues.get());
    FrameSearch search(*this, input, m_segmentDataStart);

    const uint64_t fileSize = input.Size();
    if (video)
        m_videoStart = StartTime(search, cues, *video);
    if (audio)
        m_audioStart = StartTime(search, cues, *audio);
    // The extended codecs carry no start-code headers in their frames.
    if (video && video->record->codec != StreamCodec::H264 && !IsExtendedVideo(video->record->codec))
        ApplyFirstFrame(search, cues, *video->record);
    if (audio && ReadsFirstAudioFrame(audio->record->codec, m_extensions))
        ApplyFirstFrame(search, cues, *audio->record);
    MeasureEndTimes(search, cues, video, audio);

    uint32_t rates[2] = {};
    EstimateBitRates(search, cues, video, audio, fileSize, rates);
    if (video)
        video->record->video.bitRate = rates[0];
    else
        m_videoFrameDuration = -1;
    if (audio) {
        StreamRecord& r = *audio->record;
        // PCM has the byte rate of its samples (its codecs are described only with extensions).
        if (!IsPcm(r.codec))
            r.audio.bytesPerSecond = rates[1] / 8;
        if (r.codec == StreamCodec::Mpeg1Audio || r.codec == StreamCodec::Mpeg2Audio)
            r.audio.codecSpecific[2] = rates[1];
    } else {
        m_audioFrameDuration = -1;
    }
}

int64_t MKVDemux::StartTime(FrameSearch& search, const CuePoints& cues,
                            const TrackInfo& track) const
{
    const uint32_t number = track.record->streamId;
    uint64_t budget = kScanBudget;
    for (const KaxCuePoint* point : cues) {
        if (CueHasTrack(*point, number))
            return ToTime(static_cast<int64_t>(UIntOf<KaxCueTime>(*point)), track.timecodeScale);
        uint64_t cluster = 0;
        if (!CueClusterPosition(*point, cluster))
            continue;
        int64_t first = 0;
        const bool found = search.Run(cluster, budget, [&](const PacketList& packets) {
            for (uint32_t i = 0; i < packets.Count(); ++i)
                if (IsTimedFrameOf(*packets.At(i), number)) {
                    first = packets.At(i)->pts;
                    return true;
                }
            return false;
        });
        if (found)
            return ToTime(first, track.timecodeScale);
    }
    return -1;
}

void MKVDemux::MeasureEndTimes(FrameSearch& search, const CuePoints& cues, const TrackInfo* video,
                               const TrackInfo* audio)
{
    struct Search {
        const TrackInfo* track;
        int64_t& end;
        bool found = false;
        int64_t last = 0;
    };
    Search searches[2] = {{video, m_videoEnd}, {audio, m_audioEnd}};
    // Both tracks read the same clusters from a cue to the end of the data, so one
    // run serves both; a track without frames there goes on to the cue before with
    // what is left of the budget, as its own search would.
    uint64_t budget = kScanBudget;
    for (auto it = cues.rbegin(); it != cues.rend() && (searches[0].track || searches[1].track); ++it) {
        uint64_t cluster = 0;
        if (!CueClusterPosition(**it, cluster))
            continue;
        // The last frame of the track in the data from the cue on is the end; the
        // clusters come from the last one back.
        search.RunFromEnd(cluster, budget, [&](const PacketList& packets) {
            bool done = true;
            for (Search& s : searches) {
                for (uint32_t i = packets.Count(); s.track && !s.found && i-- > 0;)
                    if (IsTimedFrameOf(*packets.At(i), s.track->record->streamId)) {
                        s.last = packets.At(i)->pts;
                        s.found = true;
                    }
                done = done && (!s.track || s.found);
            }
            return done;
        });
        for (Search& s : searches)
            if (s.track && s.found) {
                s.end = ToTime(s.last, s.track->timecodeScale);
                s.track = nullptr;
            }
    }
}

void MKVDemux::EstimateBitRates(FrameSearch& search, const CuePoints& cues, const TrackInfo* video,
                                const TrackInfo* audio, uint64_t fileSize, uint32_t (&rates)[2]) const
{
    const size_t n = cues.size();
    if (n == 0)
        return;
    // One read at each sampled cue serves both tracks.
    const TrackInfo* tracks[2] = {video, audio};
    const auto length = static_cast<uint32_t>(std::min<uint64_t>(fileSize / 4, kSearchChunk));
    uint64_t sums[2] = {};
    uint32_t samples[2] = {};
    const PacketList none;
    const PacketList* packets = &none;
    uint64_t sampled = UINT64_MAX;
    for (size_t k = 1; k <= 3; ++k) {
        uint64_t cluster = 0;
        if (!CueClusterPosition(*cues[k * n / 4], cluster))
            continue;
        // With few cues (or several at one cluster) a cluster is sampled again: its
        // frames are those of the last read.
        if (cluster != sampled)
            packets = &search.ReadOnce(cluster, length);
        sampled = cluster;
        for (size_t t = 0; t < 2; ++t) {
            const uint32_t rate = tracks[t] ? SampleBitRate(*packets, *tracks[t]) : 0;
            if (rate > 0) {
                sums[t] += rate;
                ++samples[t];
            }
        }
    }
    for (size_t t = 0; t < 2; ++t)
        rates[t] = samples[t] > 0 ? static_cast<uint32_t>(sums[t] / samples[t]) : 0;
}

uint32_t MKVDemux::SampleBitRate(const PacketList& packets, const TrackInfo& track) const
{
    const uint32_t number = track.record->streamId;
    // T0 and Tk: the first and the last keyframe; the frames from the last
    // keyframe on (the tail) belong to the interval after Tk.
    int64_t first = 0;
    int64_t last = 0;
    bool seen = false;
    uint64_t total = 0;
    uint64_t tail = 0;
    for (uint32_t i = 0; i < packets.Count(); ++i) {
        const PacketRecord& p = *packets.At(i);
        if (p.streamId != number)
            continue;
        if (p.keyframe && p.ptsPresent) {
            if (!seen)
                first = p.pts;
            seen = true;
            last = p.pts;
            tail = 0;
        }
        total += p.packetLength;
        tail += p.packetLength;
    }
    if (!seen)
        return 0;
    const double spanMs = (static_cast<double>(last) - static_cast<double>(first)) * track.timecodeScale *
                          static_cast<double>(m_timecodeScale) / 1e6;
    if (!(spanMs > 0))
        return 0;
    return SaturateToUInt32(std::trunc(static_cast<double>(total - tail) * 8000 / spanMs));
}

void MKVDemux::ApplyFirstFrame(FrameSearch& search, const CuePoints& cues, StreamRecord& r)
{
    uint64_t budget = kScanBudget;
    for (const KaxCuePoint* point : cues) {
        uint64_t cluster = 0;
        if (!CueClusterPosition(*point, cluster))
            continue;
        const bool found = search.Run(cluster, budget, [&](const PacketList& packets) {
            for (uint32_t i = 0; i < packets.Count(); ++i) {
                const PacketRecord& p = *packets.At(i);
                if (IsTimedFrameOf(p, r.streamId)) {
                    const Bytes frame = search.Frame(packets, i);
                    if (r.streamClass == StreamClass::Audio)
                        ApplyAudioFrame(frame, r);
                    else
                        ApplyFrameHeaders(frame.data(), static_cast<uint32_t>(frame.size()), r);
                    return true;
                }
            }
            return false;
        });
        if (found)
            return;
    }
}

void MKVDemux::ApplyFrameHeaders(const uint8_t* frame, uint32_t length, StreamRecord& r)
{
    if (r.codec == StreamCodec::VfwVideo && r.extraData1Length >= 20) {
        // biCompression of the BITMAPINFOHEADER that is the track's CodecPrivate.
        const std::string fourCC(reinterpret_cast<const char*>(r.extraData1) + 16, 4);
        if (fourCC == "H264" || fourCC == "X264")
            r.codec = StreamCodec::H264;
        else if (fourCC == "XVID" || fourCC == "DX50")
            r.codec = StreamCodec::Mpeg4Video;
    }
    if (r.codec != StreamCodec::Mpeg4Video) {
        const uint32_t mode = r.codec == StreamCodec::Mpeg1Video || r.codec == StreamCodec::Mpeg2Video
                                  ? kModeMpegVideo
                                  : kModeH264;
        CollectHeaders(frame, length, r.extraData1, r.extraData1Length, r.extraData2, r.extraData2Length, mode);
        return;
    }
    auto vol = std::make_unique<SequenceHeaderInfo>();
    if (!ParseVolHeader(frame, length, *vol))
        return;
    r.video.profile = vol->profile;
    r.video.level = vol->level;
    r.video.frameDuration = vol->frameDuration;
    uint32_t x = vol->aspectX;
    uint32_t y = vol->aspectY;
    if (x == 1 && y == 1)
        AspectFromSampleAspect(x, y, r.video.width, r.video.height);
    r.video.aspectX = x;
    r.video.aspectY = y;
    r.progressive = 1;
    r.encoderMarker = 0;
}

}  // namespace md
