// Demultiplexer of MP4 / QuickTime / 3GP files: reads the box tree, picks one
// video and one audio track by their handler types, and describes each with a
// stream record built from the track's first sample entry and sample tables.
// It also keeps a few file-level facts that the open flow reads afterwards: the
// camera maker's marks (a "cpgd" uuid box, the maker text, a JPEG thumbnail and
// the recording date), whether 'moov' precedes 'mdat', and whether the file has
// video and audio tracks at all.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "mediadetect/records.h"
#include "mp4/mp4_box.h"
#include "demux/demux.h"
#include "demux/tag_list.h"

namespace md {

// Calendar date and time of a camera file's recording.
// The Gregorian date and time of a camera file's recording, in the SYSTEMTIME
// layout the host receives (day of week and milliseconds always 0).
using Mp4CreationDate = RecordingTime;

// The Gregorian date and time that lies `seconds` after 1904-01-01 00:00:00,
// the epoch of the 'mvhd' times.
Mp4CreationDate CreationDateFrom1904(uint64_t seconds);

// Handler type of a 'trak' record ('vide', 'soun', ...) from its 'mdia'/'hdlr';
// 0 when the track has no 'mdia' or no 'hdlr'.
uint32_t TrackHandlerType(const Mp4Box* trak);

// The first 'trak' of the movie whose handler type is handlerType, or null.
// root is the first top-level box of the tree.
const Mp4Box* FindFirstTrack(const Mp4Box* root, uint32_t handlerType);

// How far a track's picture turns clockwise for display, from the 'tkhd'
// matrix: 90, 180 or 270 for a quarter-turn rotation, else 0 (also without a
// track or 'tkhd').
uint32_t TrackRotation(const Mp4Box* trak);

// The first sample entry of a track ('stsd' searched among its children), or
// null when the track has no 'stsd' or the 'stsd' holds no readable entry.
const Mp4Box* FirstSampleEntry(const Mp4Box* trak);

class M4Demux : public CPDemux {
public:
    M4Demux() = default;

    // Reads the box tree of the stream's file from offset 0 and appends at most
    // one audio record and then at most one video record to streams. 1 when the
    // file has a 'moov' with at least one 'trak' (also when no track could be
    // described), 0 when input or streams is missing or the file is not an
    // exactly covered box file with 'moov' and 'mdat'. For MPEG audio the stream
    // is moved to the track's first sample; otherwise its position is left
    // wherever reading the boxes ended.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
    // The MP4 demultiplexer splits nothing: these do nothing and return 1.
    uint32_t ParsePackets(const uint8_t* buffer, uint32_t length, PacketList* packets, uint8_t* stop) override;
    uint32_t ParseBuffer(const uint8_t* buffer, uint32_t length, StreamList* streams) override;
    void Reset(int64_t startTime) override;
    // The sample entry (and the file's own boxes) give the display aspect.
    bool HasContainerAspect() override { return true; }

    // Results of the last Parse.
    uint8_t HasCpgdUuid() const { return m_hasCpgdUuid; }
    uint8_t IsCameraFile() const { return m_isCameraFile; }
    uint8_t IsMoovFirst() const { return m_moovFirst; }
    void GetTrackFlags(uint8_t& hasVideo, uint8_t& hasAudio) const
    {
        hasVideo = m_hasVideo;
        hasAudio = m_hasAudio;
    }
    // The recording date of a camera file ('mvhd' creation time); 1904-01-01
    // 00:00:00 when the file is not a camera file.
    void GetCreationDate(Mp4CreationDate& date) const { date = CreationDateFrom1904(m_creationTime); }
    // 'mvhd' creation time in seconds since 1904-01-01; 0 unless a camera file.
    uint64_t CreationTime() const { return m_creationTime; }
    // The camera maker's JPEG thumbnail; length 0 when there is none.
    int32_t ThumbnailLength() const { return m_thumbnailLength; }
    std::span<const uint8_t> Thumbnail() const;
    // MP4 presentation starts at media time 0: nothing in the file moves the
    // first picture, so the video start time is always 0.
    int64_t VideoStartTime() const { return 0; }
    // The first video track's clockwise display rotation (TrackRotation); read
    // only with MD_EXT_MP4, else 0.
    uint32_t VideoRotation() const { return m_videoRotation; }
    // What the file says about itself (the 'mvhd' creation time, 'udta' and 'meta' tags); read only with
    // MD_EXT_TAGS, else empty.
    const TagList& Tags() const { return m_tags; }
    // Where the 'covr' picture of the 'ilst' lies (MD_EXT_TAGS).
    const CoverLocation& Cover() const { return m_cover; }

private:
    void ClearResults();
    void CheckCameraFile(const Mp4Box* root);
    void TakeThumbnail(uint32_t length, const std::vector<uint8_t>& bytes);

    int32_t m_thumbnailLength = 0;
    std::vector<uint8_t> m_thumbnail;
    uint8_t m_hasCpgdUuid = 0;
    uint8_t m_isCameraFile = 0;
    uint64_t m_creationTime = 0;
    uint8_t m_moovFirst = 0;
    uint8_t m_hasVideo = 0;
    uint8_t m_hasAudio = 0;
    uint32_t m_videoRotation = 0;
    TagList m_tags;
    CoverLocation m_cover;
};

}  // namespace md
