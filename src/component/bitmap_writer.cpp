#include "component/bitmap_writer.h"

#include <array>

namespace md {
namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr int32_t kPixelsPerMetre = 100;

void Put16(uint8_t*& p, uint32_t v)
{
    *p++ = static_cast<uint8_t>(v);
    *p++ = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t*& p, uint32_t v)
{
    Put16(p, v & 0xFFFF);
    Put16(p, v >> 16);
}

bool WriteAll(HANDLE file, const uint8_t* bytes, uint32_t count)
{
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written) && written == count;
}

}  // namespace

HRESULT WriteBitmapFile(HANDLE file, const uint8_t* pixels, int64_t width, int64_t height, uint32_t bytesPerPixel)
{
    int64_t imageSize = 0;
    bool ok = !__builtin_mul_overflow(width, height, &imageSize) &&
              !__builtin_mul_overflow(imageSize, int64_t{bytesPerPixel}, &imageSize) && imageSize >= 0 &&
              imageSize <= int64_t{UINT32_MAX - kFileHeaderSize - kInfoHeaderSize};
    if (ok) {
        std::array<uint8_t, kFileHeaderSize + kInfoHeaderSize> headers{};
        uint8_t* p = headers.data();
        Put16(p, 0x4D42);  // "BM"
        Put32(p, kFileHeaderSize + kInfoHeaderSize + static_cast<uint32_t>(imageSize));
        Put16(p, 0);
        Put16(p, 0);
        Put32(p, kFileHeaderSize + kInfoHeaderSize);  // offset of the pixel data
        Put32(p, kInfoHeaderSize);
        Put32(p, static_cast<uint32_t>(width));
        Put32(p, static_cast<uint32_t>(height));
        Put16(p, 1);                  // planes
        Put16(p, bytesPerPixel * 8);  // bit count
        Put32(p, 0);                  // BI_RGB: no compression
        Put32(p, static_cast<uint32_t>(imageSize));
        Put32(p, kPixelsPerMetre);
        Put32(p, kPixelsPerMetre);
        Put32(p, 0);  // colours used
        Put32(p, 0);  // important colours
        ok = WriteAll(file, headers.data(), static_cast<uint32_t>(headers.size())) &&
             WriteAll(file, pixels, static_cast<uint32_t>(imageSize));
    }
    const bool closed = CloseHandle(file) != 0;
    return ok && closed ? S_OK : E_INVALIDARG;
}

}  // namespace md
