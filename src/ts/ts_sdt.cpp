#include "ts/ts_sdt.h"

#include <algorithm>

#include "tags/tag_text.h"
#include "ts/ts_packet.h"

namespace md {
namespace {

constexpr uint8_t kSdtActual = 0x42;
constexpr uint8_t kServiceDescriptor = 0x48;
constexpr size_t kSectionHeader = 11;  // table_id to reserved_future_use after original_network_id
constexpr size_t kCrcBytes = 4;
constexpr size_t kServiceEntryHeader = 5;  // service_id, flags, running_status and descriptors_loop_length

// The name and provider of a service's descriptors, when a service_descriptor lies whole within them.
void TakeServiceDescriptor(Bytes descriptors, TsService& service)
{
    size_t pos = 0;
    while (Has(descriptors, pos, 2)) {
        const uint8_t tag = descriptors[pos], length = descriptors[pos + 1];
        if (!Has(descriptors, pos + 2, length))
            return;
        const Bytes d = descriptors.subspan(pos + 2, length);
        pos += 2 + size_t(length);
        if (tag != kServiceDescriptor || d.size() < 2)
            continue;
        const size_t providerLength = d[1];  // after service_type
        if (!Has(d, 2, providerLength + 1))
            continue;
        const size_t nameLength = d[2 + providerLength];
        if (!Has(d, 3 + providerLength, nameLength))
            continue;
        service.provider = DvbTextToUtf8(d.subspan(2, providerLength), kMaxServiceNameBytes);
        service.name = DvbTextToUtf8(d.subspan(3 + providerLength, nameLength), kMaxServiceNameBytes);
    }
}

}  // namespace

bool ParseSdtPacket(Bytes packet, std::vector<TsService>& services, size_t maxServices)
{
    if (packet.size() < kTsPacketSize || !TsPayloadUnitStart(packet.data()))
        return false;
    const uint32_t header = TsHeaderLength(packet.data());
    if (header == 0 || header >= kTsPacketSize)
        return false;  // no payload
    const size_t pointer = packet[header];
    const size_t sectionAt = header + 1 + pointer;
    if (!Has(packet, sectionAt, kSectionHeader) || packet[sectionAt] != kSdtActual)
        return false;
    const Bytes section = packet.subspan(sectionAt);
    const size_t sectionLength = size_t(section[1] & 0x0F) << 8 | section[2];
    if ((section[1] & 0x80) == 0 || sectionLength < kSectionHeader - 3 + kCrcBytes)
        return false;
    // The entries end before the CRC, or at the end of the packet for a section that runs on.
    const size_t entriesEnd = std::min(section.size(), 3 + sectionLength - kCrcBytes);
    size_t pos = kSectionHeader;
    while (pos + kServiceEntryHeader <= entriesEnd && services.size() < maxServices) {
        TsService service;
        service.serviceId = Be16(section.data() + pos);
        const size_t loopLength = size_t(section[pos + 3] & 0x0F) << 8 | section[pos + 4];
        pos += kServiceEntryHeader;
        if (loopLength > entriesEnd - pos)
            break;  // cut by the packet's end: the rest of the section is in later packets
        TakeServiceDescriptor(section.subspan(pos, loopLength), service);
        pos += loopLength;
        if (!service.name.empty() || !service.provider.empty())
            services.push_back(std::move(service));
    }
    return true;
}

}  // namespace md
