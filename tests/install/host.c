/* A C host built against an installed mediadetect through pkg-config: prints a file's kind. */
#include <stdio.h>

#include <mediadetect/mediadetect.h>

int main(int argc, char** argv)
{
    IClassFactory* factory = NULL;
    IMediaDetect5* detector = NULL;
    uint32_t kind = 0;
    if (argc != 2 || FAILED(DllGetClassObject(&CLSID_ZPMediaDetect, &IID_IClassFactory, (void**)&factory)))
        return 2;
    HRESULT hr = factory->lpVtbl->CreateInstance(factory, NULL, &IID_IMediaDetect5, (void**)&detector);
    factory->lpVtbl->Release(factory);
    if (FAILED(hr) || FAILED(detector->lpVtbl->OpenFileA(detector, argv[1], &kind)))
        return 1;
    printf("kind %u\n", kind);
    detector->lpVtbl->Release(detector);
    return 0;
}
