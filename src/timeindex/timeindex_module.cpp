// The time-index module's one creatable class.
#include "comserver/class_factory.h"
#include "mediadetect/interfaces.h"
#include "timeindex/time_index.h"

namespace md {
namespace {

CUnknown* CreateTimeIndex(IUnknown* outer, HRESULT* hr)
{
    auto* object = new (std::nothrow) CTimeIndex(outer);
    *hr = object ? S_OK : E_OUTOFMEMORY;
    return object;
}

const FactoryTemplate kTemplates[] = {
    {L"mediadetect Time Index", &CLSID_TimeIndex, &CreateTimeIndex},
};

}  // namespace

std::span<const FactoryTemplate> ModuleTemplates() { return kTemplates; }

}  // namespace md
