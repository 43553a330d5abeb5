#include "probe/families.h"

#include "audio/wav.h"
#include "mxf/mxf.h"

namespace md {
namespace {

template <typename Demux>
std::unique_ptr<FileDemux> Make()
{
    return std::make_unique<Demux>();
}

constexpr ContainerFamily kFamilies[] = {
    {MK_WAV, MD_EXT_AUDIO_FILES, "wav", ProbePhase::Signature, false, ProbeWav, Make<WavDemux>},
    {MK_MXF, MD_EXT_MXF, "mxf", ProbePhase::Signature, false, ProbeMxf, Make<MxfDemux>},
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
