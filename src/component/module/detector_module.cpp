// The detector module's one creatable class.
#include "component/media_detect.h"
#include "comserver/class_factory.h"
#include "mediadetect/interfaces.h"

namespace md {
namespace {

CUnknown* CreateMediaDetect(IUnknown* outer, HRESULT* hr)
{
    auto* object = new (std::nothrow) ZPMediaDetect(outer);
    *hr = object ? S_OK : E_OUTOFMEMORY;
    return object;
}

const FactoryTemplate kTemplates[] = {
    {L"Zephon Mpeg Detect Library", &CLSID_ZPMediaDetect, &CreateMediaDetect},
};

}  // namespace

std::span<const FactoryTemplate> ModuleTemplates() { return kTemplates; }

}  // namespace md
