// A C++ host built against an installed mediadetect through find_package: prints a file's kind.
#include <cstdio>

#include <mediadetect/mediadetect.h>

int main(int argc, char** argv)
{
    IClassFactory* factory = nullptr;
    IMediaDetect5* detector = nullptr;
    uint32_t kind = 0;
    if (argc != 2 || FAILED(DllGetClassObject(&CLSID_ZPMediaDetect, &IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return 2;
    const HRESULT hr = factory->CreateInstance(nullptr, IID_IMediaDetect5, reinterpret_cast<void**>(&detector));
    factory->Release();
    if (FAILED(hr) || FAILED(detector->OpenFileA(argv[1], &kind)))
        return 1;
    std::printf("kind %u\n", kind);
    detector->Release();
    return 0;
}
