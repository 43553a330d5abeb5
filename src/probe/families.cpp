#include "probe/families.h"

#include "audio/ac3.h"
#include "audio/amr.h"
#include "audio/dts.h"
#include "audio/wav.h"

namespace md {
namespace {

template <typename Demux>
std::unique_ptr<FileDemux> Make()
{
    return std::make_unique<Demux>();
}

constexpr ContainerFamily kFamilies[] = {
    {MK_WAV, MD_EXT_AUDIO_FILES, "wav", ProbePhase::Signature, false, ProbeWav, Make<WavDemux>},
    {MK_AMR, MD_EXT_AUDIO_FILES, "amr", ProbePhase::Signature, false, ProbeAmr, Make<AmrDemux>},
    {MK_AC3, MD_EXT_AUDIO_FILES, "ac3", ProbePhase::Sync, true, ProbeAc3, Make<Ac3Demux>},
    {MK_EAC3, MD_EXT_AUDIO_FILES, "eac3", ProbePhase::Sync, true, ProbeEac3, Make<Ac3Demux>},
    {MK_DTS, MD_EXT_AUDIO_FILES, "dts", ProbePhase::Sync, true, ProbeDts, Make<DtsDemux>},
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
