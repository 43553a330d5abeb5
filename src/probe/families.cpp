#include "probe/families.h"

#include "asf/asf.h"
#include "audio/adts.h"
#include "audio/aiff.h"
#include "audio/caf.h"
#include "audio/flac.h"
#include "audio/mp3.h"
#include "audio/wav.h"
#include "avi/avi_demux.h"
#include "dv/dv_demux.h"
#include "flv/flv_demux.h"

namespace md {
namespace {

template <typename Demux>
std::unique_ptr<FileDemux> Make()
{
    return std::make_unique<Demux>();
}

constexpr ContainerFamily kFamilies[] = {
    // Known by a signature at the start of the file (after ID3v2 tags where the family allows them).
    {MK_WAV, MD_EXT_AUDIO_FILES, "wav", ProbePhase::Signature, false, ProbeWav, Make<WavDemux>},
    {MK_FLAC, MD_EXT_AUDIO_FILES, "flac", ProbePhase::Signature, true, ProbeFlac, Make<FlacDemux>},
    {MK_AIFF, MD_EXT_AUDIO_FILES, "aiff", ProbePhase::Signature, false, ProbeAiff, Make<AiffDemux>},
    {MK_CAF, MD_EXT_AUDIO_FILES, "caf", ProbePhase::Signature, false, ProbeCaf, Make<CafDemux>},
    {MK_ASF, MD_EXT_ASF, "asf", ProbePhase::Signature, false, ProbeAsf, Make<AsfDemux>},
    {MK_FLV, MD_EXT_FLV, "flv", ProbePhase::Signature, false, ProbeFlv, Make<FlvDemux>},
    // MPEG audio and ADTS frames: a run where the tags end, before the base tests (whose searches could meet a
    // start code in the audio), else a run found by a sync search after them.
    {MK_MP3, MD_EXT_AUDIO_FILES, "mp3", ProbePhase::Signature, true, ProbeMp3Start, Make<Mp3Demux>},
    {MK_ADTS, MD_EXT_AUDIO_FILES, "adts", ProbePhase::Signature, true, ProbeAdtsStart, Make<AdtsDemux>},
    {MK_MP3, MD_EXT_AUDIO_FILES, "mp3", ProbePhase::Sync, true, ProbeMp3, Make<Mp3Demux>},
    {MK_ADTS, MD_EXT_AUDIO_FILES, "adts", ProbePhase::Sync, true, ProbeAdts, Make<AdtsDemux>},
    {MK_AVI, MD_EXT_AVI, "avi", ProbePhase::Signature, false, ProbeAvi, Make<AviDemux>},
    {MK_DV, MD_EXT_DV, "dv", ProbePhase::Signature, false, ProbeDv, Make<DvDemux>},
};

}  // namespace

std::span<const ContainerFamily> ContainerFamilies() { return kFamilies; }

const ContainerFamily* FamilyOf(uint32_t kind)
{
    for (const ContainerFamily& f : kFamilies)
        if (f.kind == kind)
            return &f;
    return nullptr;
}

uint32_t FamilyExtensions()
{
    uint32_t bits = 0;
    for (const ContainerFamily& f : kFamilies)
        bits |= f.extension;
    return bits;
}

}  // namespace md
