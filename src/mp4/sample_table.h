// Per-track questions over a box tree: how many samples a track has, where a
// sample lies in the file, when it is decoded, its composition offset, the
// typical sample duration, the track's duration and a fallback frame duration.
//
// The queries read the sample tables of 'stbl' ('stsz', 'stsc', 'stco'/'co64',
// 'stts', 'ctts', 'mdhd') and, for fragmented files, the track fragment runs of
// the 'moof' boxes ('tfhd', 'trun', with the 'trex' defaults of 'mvex').
//
// Arguments:
// - children: the first child of a 'trak' (the track's child list). Every table
//   is found in it with FindBox, which also descends into 'mdia', 'minf' and
//   'stbl'. The fragment-aware forms need the track's 'tkhd' as this first
//   child to learn the track ID; otherwise the track has no fragment samples.
// - root: the first top-level box of the tree, to reach 'mvex' and the 'moof'
//   boxes; may be null.
// - n: a sample number. Its base differs per query and is given with each.
//
// Fragment runs: the 'moof' boxes are visited in file order, their 'traf' boxes
// in order, and in each 'traf' whose 'tfhd' carries the track ID its 'trun'
// boxes in order. Run samples are numbered after the 'stsz' samples: the first
// sample of the first run is (stsz sample count) + 1. A run sample's duration and
// size come from the run's per-sample array when the run carries one, else from
// the 'tfhd' default when its flag is set, else from the track's 'trex'. A track
// with fragments but no 'trex' of its ID answers 0 for every fragment sample.
//
// Nothing is cached and the tree is never changed. Counts and indexes read from
// the file are never trusted: a missing box or array entry, a sample number out
// of range or a zero divisor gives 0, and every loop is bounded by the entries
// the records really hold. Sample offsets and media times are 32-bit
// wrap-around sums (a 'co64' offset contributes its low 32 bits); durations in
// 100-ns units are signed 64-bit.
#pragma once

#include <cstdint>

#include "mp4/mp4_box.h"

namespace md {

// The 'mdhd' time scale; 0 when absent. A value of 2^31 or more reads as
// negative, which every caller treats as unusable.
int32_t GetMediaTimeScale(const Mp4Box* children);

// The 'stsz' sample count; 0 when absent.
uint32_t GetSampleCount(const Mp4Box* children);

// The 'stsz' count plus the sample counts of every fragment run of the track
// (the runs only when root is given and the track ID is at least 1).
uint64_t GetTotalSampleCount(const Mp4Box* children, const Mp4Box* root);

// Size in bytes of sample n (1-based) from 'stsz': its constant sampleSize for
// every n when that is not 0, else entrySize[n - 1]; 0 when n is out of range.
uint32_t GetSampleSize(const Mp4Box* children, int32_t n);

// File offset of sample n (1-based) from 'stsc', 'stco' (or 'co64' when there is
// no 'stco') and 'stsz' only. 0 when the sample or its chunk is not in the
// tables.
uint32_t GetSampleOffset(const Mp4Box* children, int32_t n);

// As above, continuing into the fragment runs for n beyond the 'stsz' count when
// the movie has 'mvex'. A run's base is the low 32 bits of the 'tfhd'
// baseDataOffset (0 without the flag, so the run's dataOffset is then taken as
// a file offset) plus its dataOffset when present.
uint32_t GetSampleOffset(const Mp4Box* children, int32_t n, const Mp4Box* root);

// Decode-time position from 'stts' in media units: with samples numbered from
// 0, the decode time at the end of sample n, so n = count - 1 gives the total of
// all durations.
uint32_t GetSampleTime(const Mp4Box* children, int32_t n);

// As above, for n at or beyond the 'stsz' count (when the movie has 'mvex'):
// the total of the tables' durations plus those of every run sample up to and
// including sample n, so n = total sample count - 1 gives the track's length.
uint32_t GetSampleTime(const Mp4Box* children, int32_t n, const Mp4Box* root);

// Composition offset of sample n (numbered from 0) from 'ctts'; 0 when none.
int32_t GetCompositionOffset(const Mp4Box* children, int32_t n);

// As above; for n beyond the 'stsz' count (when the movie has 'mvex') the run's
// per-sample composition offset of sample n (run samples numbered from count +
// 1), 0 when the run carries none.
int32_t GetCompositionOffset(const Mp4Box* children, int32_t n, const Mp4Box* root);

// The typical sample duration in media units: among the first 100 'stts'
// entries, the delta whose entries hold the most samples (the first one seen on
// a tie); 0 without entries or when every total is 0.
uint32_t GetDominantSampleDelta(const Mp4Box* children);

// How a track's sample durations spread over its samples: every 'stts' entry
// the record holds and, when root is given and the movie has a 'trex' for the
// track, every fragment run sample (durations as GetSampleTime takes them).
struct SampleDurationSpread {
    uint64_t samples = 0;  // samples counted
    uint64_t total = 0;  // their durations summed, media units
    uint32_t dominantDelta = 0;  // the duration the most samples have (the first seen on a tie)
    uint64_t dominantSamples = 0;  // how many samples have it
    // The samples between the first and the last do not all have one duration.
    // The first and the last sample are left out: a muxer stretches or cuts them
    // to a track's edit or to the other track's end in constant-rate files.
    bool innerDurationsVary = false;
};
SampleDurationSpread GetSampleDurationSpread(const Mp4Box* children, const Mp4Box* root);

// The frame duration of a variable-rate track, in 100-ns units, when the
// dominant sample delta does not describe it: the track's mean duration (its
// length over its sample count) when the samples between the first and the
// last do not all have one duration (an odd first or last sample is common in
// constant-rate tracks), or the dominant delta gives more than 1000 fps.
// Without a base duration (baseDuration 0: no 'stts' samples, as in a
// fragmented file) the dominant duration of the fragment runs. 0: the base
// rule stands.
int64_t GetVariableFrameDuration(const Mp4Box* children, const Mp4Box* root, int32_t timeScale,
                                 int64_t baseDuration);

// v x 10,000,000 / timeScale, truncated; 0 when timeScale is 0.
int64_t MediaTo100ns(int32_t v, int32_t timeScale);

// (v x 10,000,000 + (timeScale + 1) / 2) / timeScale; 0 when timeScale is 0.
int64_t MediaTo100nsRounded(int32_t v, int32_t timeScale);

// The track's duration in 100-ns units: the fragment-aware sample time of
// sample (total sample count - 1) in the 'mdhd' time scale. 0 without a track or
// time scale.
int64_t GetTrackDuration(const Mp4Box* trak, const Mp4Box* root);

// A fallback frame duration in 100-ns units: with k the number of leading
// samples (counting from 0) whose composition offset stays below one second,
// 10,000,000 / k. 0 when timeScale is 0, when the 'stsz' count is 0, when k is
// 0, or when no sample up to the track's total count reaches one second.
int64_t EstimateFrameDuration(const Mp4Box* children, const Mp4Box* root, int32_t timeScale);

}  // namespace md
