// The time range of an MPEG-1 system stream or MPEG-2 program stream: a system
// stream decoder runs over the start of the file for the first presentation
// times and the frame durations, and over its end for the last presentation
// times; when the two ends lie less than a second apart, the file's byte rate
// (from pack SCRs) gives an estimate of the end. All times are 100-ns units.
#pragma once

#include <cstdint>

#include "input/input_stream.h"
#include "input/open_input.h"
#include "mediadetect/records.h"

namespace md {

// The extension rules a scan follows.
struct ProgramStreamTimeRules {
    // MD_EXT_FRAME_RATES: an MPEG-2 frame duration follows the sequence
    // extension's frame_rate_extension_n and _d.
    bool rateExtension = false;
    // MD_EXT_TIME_RANGES: private stream 1 timed as its sub-stream headers give
    // it (see MPEG2SystemDec_c::SetSubStreamTiming), AC-3 frames of 1536 samples.
    bool subStreamTiming = false;
    // MD_EXT_TIME_RANGES: where ends less than a second apart are to be checked
    // against the byte rate and too few packs give one (a file of one pack), the
    // ends found stand; by default the scan then gives no range.
    bool endsWithoutByteRate = false;
};

// The rules of the extension bits that are on.
ProgramStreamTimeRules ProgramStreamTimeRulesOf(uint32_t extensions);

struct ScanStartResult {
    int64_t videoFirstTime = -1;
    int64_t audioFirstTime = -1;
    // -1 until a sequence header or VOL is read, 0 when a video unit was seen
    // without one.
    int32_t videoFrameDuration = -1;
    uint32_t audioFrameDuration = 0;  // 0 until known
    int32_t videoStreamIndex = -1;    // in the decoder
    uint32_t videoByteRate = 0;       // from the sequence header or VOL; 0 when none
};

struct ScanEndResult {
    int64_t videoEndTime = 0;  // 0 when no video time was found
    int64_t audioEndTime = 0;  // 0 when no audio time was found
};

// Decodes the file from its start (the CDXA data offset for RIFF/CDXA files,
// whose Form 2 video and audio sectors are fed) until the first video and audio
// times and frame durations are known. mpeg4: MPEG-4 Visual video units (MPEG-2
// only). False only when the stream or the decoder is missing.
bool ScanStart(bool mpeg1, ZPMP::InputStream* input, bool cdxa, uint64_t cdxaDataOffset, bool mpeg4,
               ScanStartResult& result, ProgramStreamTimeRules rules = {});

// Decodes windows at the end of the file, each pass starting one window further
// back (at most 40 passes), until the last video and audio times are found.
// A frame duration of 0 means that stream is not looked for.
bool ScanEnd(bool mpeg1, ZPMP::InputStream* input, int32_t videoFrameDuration, uint32_t audioFrameDuration,
             bool cdxa, uint64_t cdxaDataOffset, int32_t videoStreamIndex, uint32_t videoByteRate, bool mpeg4,
             ScanEndResult& result, ProgramStreamTimeRules rules = {});

// Bytes per 100-ns unit from the pack SCRs of the 512,000 bytes at the stream's
// current position; false with fewer than two packs or a clock that does not
// advance.
bool MeasureByteRate(ZPMP::InputStream& input, bool mpeg1, double& bytesPer100ns);

// The time range of a program-stream file of media kind 1..7 (1 and 3 MPEG-1,
// the others MPEG-2, 5 with MPEG-4 Visual video). False for other kinds, an
// empty file or a failed scan; range is zero-filled first.
bool ScanProgramStreamTimeRange(ZPMP::InputStream& input, uint32_t kind, TimeRangeInfo& range,
                                ProgramStreamTimeRules rules = {});
// The same over a fresh stream on the path of source.
bool ScanProgramStreamTimeRange(const InputSource& source, uint32_t kind, TimeRangeInfo& range,
                                ProgramStreamTimeRules rules = {});

}  // namespace md
