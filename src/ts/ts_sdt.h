// The DVB Service Description Table (ETSI EN 300 468, PID 0x11, table_id 0x42 for the actual transport stream): the
// service_descriptor (tag 0x48) of each service names it and its provider. Read from the section's first packet:
// the services whose descriptors lie within it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/bytes.h"

namespace md {

constexpr uint32_t kTsSdtPid = 0x11;
// The most bytes of a service or provider name kept.
constexpr size_t kMaxServiceNameBytes = 256;

// One service: its service_id (the program_number of the PAT and PMT), its name and its provider's, in UTF-8.
struct TsService {
    uint32_t serviceId = 0;
    std::string name;
    std::string provider;
};

// The services of the SDT section that starts in packet (a whole 188-byte packet of PID 0x11 whose payload unit
// starts), appended to services while it holds fewer than maxServices. False when the packet holds no SDT for the
// actual transport stream.
bool ParseSdtPacket(Bytes packet, std::vector<TsService>& services, size_t maxServices);

}  // namespace md
