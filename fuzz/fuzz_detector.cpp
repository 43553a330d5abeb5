// The detector end to end through its interfaces, as a host drives it: the input
// is written to a file, which a detector opens; then every getter, the duration
// and time range, the program and stream lists with a selection of the first
// program's streams, the Matroska track selection and subtitle list, and the
// program-stream re-open. The first byte's lowest bit sets the container hint the host may set, the next bit turns
// every extension on.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "component/media_detect.h"
#include "mediadetect/interfaces.h"

namespace {

const std::string& InputPath()
{
    static const std::string path = "/tmp/fuzz_detector_" + std::to_string(getpid()) + ".bin";
    return path;
}

bool WriteInput(const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(InputPath().c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && written;
}

void Getters(IMediaDetect5* detector, IMediaDetectInfo* info)
{
    int64_t duration = 0;
    detector->GetDuration(&duration);
    TimeRangeInfo range{};
    detector->GetTimeRangeInfo(&range);
    VideoInfo video{};
    detector->GetVideoInfo(&video);
    detector->GetVideoInfoShort(&video);
    AudioInfo audio{};
    detector->GetAudioInfo(&audio);
    MpegAudioLayerInfo layer{};
    detector->GetMpegAudioLayerInfo(&layer);
    MultiChannelInfo channels{};
    detector->GetMultiChannelInfo(&channels);

    uint32_t thumbnailLength = 0;
    info->GetInfo(MDI_THUMBNAIL_LENGTH, &thumbnailLength);
    std::vector<uint8_t> out(std::max<size_t>({thumbnailLength, sizeof(CodecHeaderInfo), sizeof(RecordingTime), 16}));
    for (int32_t id = 0; id <= MDI_AAC_CLASS + 1; ++id)
        info->GetInfo(id, out.data());
}

void TransportQueries(IMediaDetect5* detector)
{
    uint32_t count = 0;
    std::vector<uint32_t> pmtPids(1024);
    if (FAILED(detector->GetTransportPrograms(&count, pmtPids.data(), 0)))
        count = 0;
    std::vector<uint32_t> videoIds(1024);
    std::vector<uint32_t> audioIds(1024);
    int32_t videoCount = 0;
    int32_t audioCount = 0;
    StreamSelection selection{};
    for (uint32_t i = 0; i < std::min<uint32_t>(count, 4); ++i) {
        videoCount = audioCount = 0;
        if (SUCCEEDED(
                detector->GetStreamLists(pmtPids[i], &videoCount, videoIds.data(), &audioCount, audioIds.data(), 0)) &&
            i == 0) {
            selection.videoId = videoCount > 0 ? videoIds[0] : 0;
            selection.audioId = audioCount > 0 ? audioIds[0] : 0;
        }
    }
    // DirecTV has one program, listed without a PMT PID.
    videoCount = audioCount = 0;
    if (SUCCEEDED(detector->GetStreamLists(0, &videoCount, videoIds.data(), &audioCount, audioIds.data(), 0)) &&
        selection.videoId == 0 && selection.audioId == 0) {
        selection.videoId = videoCount > 0 ? videoIds[0] : 0;
        selection.audioId = audioCount > 0 ? audioIds[0] : 0;
    }
    VideoInfo video{};
    AudioInfoEx audio{};
    detector->SelectTransportProgram(&selection, 0, &video, &audio);
    detector->ReopenProgramStream(0, &video, &audio);
}

void MatroskaQueries(IMediaDetect5* detector)
{
    int32_t videoCount = 0;
    int32_t audioCount = 0;
    if (FAILED(detector->GetStreamLists(0, &videoCount, nullptr, &audioCount, nullptr, 0)))
        return;
    std::vector<uint32_t> videoIds(size_t(std::max(videoCount, 0)) + 1);
    std::vector<uint32_t> audioIds(size_t(std::max(audioCount, 0)) + 1);
    detector->GetStreamLists(0, &videoCount, videoIds.data(), &audioCount, audioIds.data(), 0);
    uint32_t subtitles = 0;
    detector->GetSubtitleTracks(&subtitles, nullptr, 0);
    std::vector<uint32_t> trackNumbers(size_t(subtitles) + 1);
    detector->GetSubtitleTracks(&subtitles, trackNumbers.data(), 0);

    StreamSelection selection{};
    selection.videoId = videoCount > 0 ? videoIds[0] : 0;
    selection.audioId = audioCount > 0 ? audioIds[0] : 0;
    VideoInfo video{};
    AudioInfoEx audio{};
    uint32_t extraValue = 0;
    detector->SelectMatroskaTracks(&selection, subtitles > 0 ? trackNumbers[0] : 0, 0, &video, &audio, &extraValue);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || !WriteInput(data + 1, size - 1))
        return 0;
    auto* object = new md::ZPMediaDetect(nullptr);
    IMediaDetect5* detector = nullptr;
    IMediaDetectInfo* info = nullptr;
    object->NonDelegatingAddRef();
    if (SUCCEEDED(object->NonDelegatingQueryInterface(IID_IMediaDetect5, reinterpret_cast<void**>(&detector))) &&
        SUCCEEDED(object->NonDelegatingQueryInterface(IID_IMediaDetectInfo, reinterpret_cast<void**>(&info)))) {
        // Hints 0 (none) and 13 (DirecTV) are the ones the probe knows.
        const uint32_t hint = data[0] & 1 ? 13 : 0;
        info->SetInfo(MDI_CONTAINER_HINT, &hint);
        const uint32_t extensions = data[0] & 2 ? uint32_t(MD_EXT_ALL) : 0;
        info->SetInfo(MDI_EXTENSIONS, &extensions);
        uint32_t kind = 0;
        if (SUCCEEDED(detector->OpenFileA(InputPath().c_str(), &kind))) {
            Getters(detector, info);
            TransportQueries(detector);
            MatroskaQueries(detector);
            Getters(detector, info);
        }
        info->Release();
        detector->Release();
    }
    object->NonDelegatingRelease();
    unlink(InputPath().c_str());
    return 0;
}
