#include "probe/families.h"

#include "asf/asf.h"
#include "audio/ac3.h"
#include "audio/adts.h"
#include "audio/aiff.h"
#include "audio/amr.h"
#include "audio/caf.h"
#include "audio/dts.h"
#include "audio/flac.h"
#include "audio/mp3.h"
#include "audio/wav.h"
#include "avi/avi_demux.h"
#include "dv/dv_demux.h"
#include "flv/flv_demux.h"
#include "ogg/ogg_demux.h"
#include "mxf/mxf.h"

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
    {MK_AMR, MD_EXT_AUDIO_FILES, "amr", ProbePhase::Signature, false, ProbeAmr, Make<AmrDemux>},
    {MK_ASF, MD_EXT_ASF, "asf", ProbePhase::Signature, false, ProbeAsf, Make<AsfDemux>},
    {MK_FLV, MD_EXT_FLV, "flv", ProbePhase::Signature, false, ProbeFlv, Make<FlvDemux>},
    {MK_OGG, MD_EXT_OGG, "ogg", ProbePhase::Signature, false, ProbeOgg, Make<OggDemux>},
    {MK_MXF, MD_EXT_MXF, "mxf", ProbePhase::Signature, false, ProbeMxf, Make<MxfDemux>},
    {MK_AVI, MD_EXT_AVI, "avi", ProbePhase::Signature, false, ProbeAvi, Make<AviDemux>},
    {MK_DV, MD_EXT_DV, "dv", ProbePhase::Signature, false, ProbeDv, Make<DvDemux>},
    // Runs of audio frames where the audio starts (after tags and zero bytes): before the base tests, whose pack
    // search could meet a start code inside the audio and give up. MPEG audio and ADTS frames are also searched for
    // after every base test has declined.
    {MK_AC3, MD_EXT_AUDIO_FILES, "ac3", ProbePhase::Signature, true, ProbeAc3, Make<Ac3Demux>},
    {MK_EAC3, MD_EXT_AUDIO_FILES, "eac3", ProbePhase::Signature, true, ProbeEac3, Make<Ac3Demux>},
    {MK_DTS, MD_EXT_AUDIO_FILES, "dts", ProbePhase::Signature, true, ProbeDts, Make<DtsDemux>},
    {MK_MP3, MD_EXT_AUDIO_FILES, "mp3", ProbePhase::Signature, true, ProbeMp3Start, Make<Mp3Demux>},
    {MK_ADTS, MD_EXT_AUDIO_FILES, "adts", ProbePhase::Signature, true, ProbeAdtsStart, Make<AdtsDemux>},
    {MK_MP3, MD_EXT_AUDIO_FILES, "mp3", ProbePhase::Sync, true, ProbeMp3, Make<Mp3Demux>},
    {MK_ADTS, MD_EXT_AUDIO_FILES, "adts", ProbePhase::Sync, true, ProbeAdts, Make<AdtsDemux>},
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
