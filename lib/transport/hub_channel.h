// The USB hub side channel: a SCSI command carried in GET_DESCRIPTOR requests to the device's hub
// port, for users who may not open the drive. The request layout is the hub driver's
// USB_DESCRIPTOR_REQUEST: connection index, setup fields, then the descriptor data area.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "host/host_types.h"

namespace kvx {

enum class HubPiece {
    kFirstCdb,  // CDB bytes 0-3
    kMoreCdb,   // CDB bytes 4k..4k+3
    kDataOut,   // four data bytes
    kDataIn,    // up to 64 data bytes come back
    kFinal,     // status
};

inline constexpr std::size_t kHubRequestHeader = 12;
inline constexpr std::size_t kHubDataInPiece = 64;
inline constexpr std::size_t kHubDataOutPiece = 4;
inline constexpr std::size_t kHubCdbPieces = 4;

// The header of a hub's descriptor request (USB_DESCRIPTOR_REQUEST): ConnectionIndex = port,
// then the setup packet, wLength = the request's size less the header; little-endian.
void PutHubRequestHeader(std::span<std::uint8_t> request, std::uint32_t port,
                         std::uint8_t requestType, std::uint8_t requestCode, std::uint16_t value,
                         std::uint16_t index);

// Whole buffer size of a piece's request (the header included); wLength is this less 12.
std::size_t HubRequestSize(HubPiece piece);

// One request: ConnectionIndex = port, bmRequest = bRequest = 0, wValue and wIndex little-endian,
// wLength = buffer size - 12, data area zero.
std::vector<std::uint8_t> BuildHubRequest(HubPiece piece, std::uint32_t port, std::uint16_t value,
                                          std::uint16_t index);

// The number of requests of one command: four CDB pieces, the data pieces, one final request.
std::size_t HubRequestCount(std::uint32_t dataLength, DataDirection direction);

// The full request sequence of one command over a 16-byte CDB, data-out bytes taken from `data`
// (bytes past its end are sent as zero).
std::vector<std::vector<std::uint8_t>> BuildHubSequence(std::span<const std::uint8_t, 16> cdb,
                                                        std::span<const std::uint8_t> data,
                                                        std::uint32_t dataLength,
                                                        DataDirection direction,
                                                        std::uint32_t port);

}  // namespace kvx
