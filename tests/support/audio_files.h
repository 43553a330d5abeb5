// Shared by the audio-file tests: byte builders the chunk and frame formats need, and what a demultiplexer made of a
// file written as one line, so a row of a rule table states the whole outcome in a short string.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "demux/file_demux.h"
#include "input/memory_input_stream.h"
#include "support/bit_writer.h"
#include "support/stream_builders.h"

namespace mdtest {

inline ByteVec Repeat(std::span<const uint8_t> unit, int times)
{
    ByteVec out;
    for (int i = 0; i < times; ++i)
        Append(out, unit);
    return out;
}

inline ByteVec Cut(ByteVec b, size_t size) { return b.resize(size), b; }

// A RIFF (little-endian size) or IFF (big-endian size) chunk: the id, the stated size (the body's unless given), the
// body and a pad byte after an odd one.
inline ByteVec IffChunk(bool bigEndian, const char* id, const ByteVec& body, int64_t statedSize = -1)
{
    ByteVec c(id, id + 4);
    (bigEndian ? PutBe : PutLe)(c, statedSize < 0 ? body.size() : uint64_t(statedSize), 4);
    Append(c, body);
    if (body.size() & 1)
        c.push_back(0);
    return c;
}

// The start of an E-AC-3 syncframe of `bytes` bytes (A/52 E.1.2.2), 48 kHz, six blocks, bsid 16: bsi up to chanmap
// (dialnorm, compre [compr], for acmod 0 dialnorm2 and compr2e [compr2], for a dependent substream chanmape
// [chanmap]), then 16 one bits, so a misplaced read sees set bits, then zero bytes.
inline ByteVec Eac3FrameStart(uint32_t strmtyp, uint32_t substreamid, uint32_t acmod, bool lfeon, size_t bytes,
                              bool compre = false, bool chanmape = false, uint32_t chanmap = 0)
{
    BitWriter w;
    w.Put(0x0B77, 16), w.Put(strmtyp, 2), w.Put(substreamid, 3), w.Put(bytes / 2 - 1, 11), w.Put(0, 2), w.Put(3, 2);
    w.Put(acmod, 3), w.Put(lfeon, 1), w.Put(16, 5), w.Put(27, 5), w.Put(compre, 1), w.Put(0xFF, compre ? 8 : 0);
    if (acmod == 0)
        w.Put(27, 5), w.Put(1, 1), w.Put(0xFF, 8);
    if (strmtyp == 1)
        w.Put(chanmape, 1), w.Put(chanmap, chanmape ? 16 : 0);
    w.Put(0xFFFF, 16);
    return Cut(w.Take(), bytes);
}

// The start of a DTS core frame in the 16-bit big-endian form (ETSI TS 102 114 5.3.1), RATE 15 (768 kbit/s): 16
// bytes, ones after the fields.
inline ByteVec DtsCoreStart(uint32_t nblks, uint32_t fsize, uint32_t amode, uint32_t sfreq, uint32_t lff,
                            uint32_t extAudioId = 0, bool extAudio = false)
{
    BitWriter w;
    w.Put(0x7FFE8001, 32), w.Put(1, 1), w.Put(31, 5), w.Put(0, 1), w.Put(nblks, 7), w.Put(fsize, 14);
    w.Put(amode, 6), w.Put(sfreq, 4), w.Put(15, 5);
    w.Put(0, 5), w.Put(extAudioId, 3), w.Put(extAudio, 1), w.Put(0, 1), w.Put(lff, 2), w.Put(0, 1);
    w.Put(0xFFFFFFFFFF, 40);
    return w.Take();
}

// A DTS-HD extension substream header: SYNCEXTSSH, nuExtSSHeaderSize and nuExtSSFsize in 8 and 16 bits, or 12 and
// 20 with longSizes; then zero bytes.
inline ByteVec DtsHdSubstreamStart(bool longSizes, uint32_t headerBytes, uint32_t frameBytes)
{
    BitWriter w;
    w.Put(0x64582025, 32), w.Put(0, 8), w.Put(0, 2), w.Put(longSizes, 1);
    w.Put(headerBytes - 1, longSizes ? 12 : 8), w.Put(frameBytes - 1, longSizes ? 20 : 16), w.Put(0, 16);
    return w.Take();
}

// A row of a table of file rules: what it shows, the file, and what Opened makes of it.
struct FileRow {
    const char* what;
    ByteVec file;
    const char* expected;
};

inline const char* AudioCodecName(md::StreamCodec c)
{
    using C = md::StreamCodec;
    switch (c) {
    case C::Mpeg1Audio: return "mpeg1";
    case C::Mpeg2Audio: return "mpeg2";
    case C::Ac3: return "ac3";
    case C::Eac3: return "eac3";
    case C::Dts: return "dts";
    case C::TsAudioDtsHd: return "dtshd";
    case C::Aac: return "aac";
    case C::Flac: return "flac";
    case C::PcmLittleEndian: return "pcm";
    case C::Lpcm: return "pcm_be";
    case C::PcmFloat: return "float";
    case C::Alaw: return "alaw";
    case C::Mulaw: return "mulaw";
    case C::Adpcm: return "adpcm";
    case C::Alac: return "alac";
    case C::AmrNb: return "amrnb";
    case C::AmrWb: return "amrwb";
    case C::VfwVideo: return "unmapped";
    default: return "other";
    }
}

// "not taken" when Parse said the file is not of the family (0); else the first record, or "no record": its codec,
// the stream id where it is not 1, then the fields that are set: channels, rate, bits, speaker mask, block align
// (above 1), bytes per second and codec-specific word 0; then the duration in 100-ns units, "t=N" counted or
// stated, "t~N" estimated, "t=?" unknown. bytesRead, where given, is set to the bytes Parse read.
template <class Demux>
std::string Opened(std::span<const uint8_t> file, uint64_t* bytesRead = nullptr)
{
    md::MemoryInputStream in(file);
    Demux demux;
    md::StreamList streams;
    const uint32_t parsed = demux.Parse(&in, &streams);
    if (bytesRead)
        *bytesRead = in.BytesRead();
    if (parsed != 1)  // the detector takes a file on 1 alone
        return parsed == 0 && streams.Count() == 0 && !demux.Times().Known() ? "not taken"
                                                                                : "Parse gave " + std::to_string(parsed);
    std::string s = "no record";
    if (const md::StreamRecord* r = streams.At(0)) {
        const md::AudioParams& a = r->audio;
        s = AudioCodecName(r->codec);
        if (r->streamId != 1)
            s += " id " + std::to_string(r->streamId);
        s += " " + std::to_string(a.channels) + "ch " + std::to_string(a.sampleRate) + "Hz";
        const auto add = [&s](uint32_t v, const char* before, const char* after) {
            if (v != 0)
                s += before + std::to_string(v) + after;
        };
        add(a.bitsPerSample, " ", "b");
        if (a.channelMask != 0) {
            char mask[16];
            std::snprintf(mask, sizeof mask, " mask %X", a.channelMask);
            s += mask;
        }
        add(a.blockAlign > 1 ? a.blockAlign : 0, " align ", "");
        add(a.bytesPerSecond, " ", "B/s");
        add(a.codecSpecific[0], " w0 ", "");
    }
    const int64_t end = demux.Times().range.audioEndTime;
    return s + (end < 0 ? " t=?" : (demux.Times().estimated ? " t~" : " t=") + std::to_string(end));
}

}  // namespace mdtest
