#include "transport/hub_channel.h"

#include <algorithm>

namespace kvx {

std::size_t HubRequestSize(HubPiece piece) {
    switch (piece) {
        case HubPiece::kFirstCdb:
            return 171;
        case HubPiece::kMoreCdb:
        case HubPiece::kDataOut:
            return 155;
        case HubPiece::kDataIn:
            return 219;
        case HubPiece::kFinal:
            return 187;
    }
    return 0;
}

void PutHubRequestHeader(std::span<std::uint8_t> request, std::uint32_t port,
                         std::uint8_t requestType, std::uint8_t requestCode, std::uint16_t value,
                         std::uint16_t index) {
    const auto length = static_cast<std::uint16_t>(request.size() - kHubRequestHeader);
    for (int k = 0; k < 4; ++k) {
        request[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(port >> (8 * k));
    }
    request[4] = requestType;
    request[5] = requestCode;
    request[6] = static_cast<std::uint8_t>(value);
    request[7] = static_cast<std::uint8_t>(value >> 8);
    request[8] = static_cast<std::uint8_t>(index);
    request[9] = static_cast<std::uint8_t>(index >> 8);
    request[10] = static_cast<std::uint8_t>(length);
    request[11] = static_cast<std::uint8_t>(length >> 8);
}

std::vector<std::uint8_t> BuildHubRequest(HubPiece piece, std::uint32_t port, std::uint16_t value,
                                          std::uint16_t index) {
    std::vector<std::uint8_t> request(HubRequestSize(piece), 0);
    PutHubRequestHeader(request, port, 0, 0, value, index);
    return request;
}

std::size_t HubRequestCount(std::uint32_t dataLength, DataDirection direction) {
    std::size_t pieces = 0;
    switch (direction) {
        case DataDirection::kIn:
            pieces = dataLength == 0 ? 1 : (dataLength + kHubDataInPiece - 1) / kHubDataInPiece;
            break;
        case DataDirection::kOut:
            pieces = dataLength == 0 ? 1 : (dataLength + kHubDataOutPiece - 1) / kHubDataOutPiece;
            break;
        case DataDirection::kNone:
            break;
    }
    return kHubCdbPieces + pieces + 1;
}

namespace {

std::uint16_t Word(std::span<const std::uint8_t> bytes, std::size_t at) {
    const auto byteAt = [&](std::size_t i) -> std::uint16_t {
        return i < bytes.size() ? bytes[i] : 0;
    };
    return static_cast<std::uint16_t>(byteAt(at) | (byteAt(at + 1) << 8));
}

}  // namespace

std::vector<std::vector<std::uint8_t>> BuildHubSequence(std::span<const std::uint8_t, 16> cdb,
                                                        std::span<const std::uint8_t> data,
                                                        std::uint32_t dataLength,
                                                        DataDirection direction,
                                                        std::uint32_t port) {
    std::vector<std::vector<std::uint8_t>> sequence;
    const std::size_t count = HubRequestCount(dataLength, direction);
    const std::span<const std::uint8_t> cdbBytes(cdb);
    for (std::size_t k = 0; k < kHubCdbPieces; ++k) {
        sequence.push_back(BuildHubRequest(k == 0 ? HubPiece::kFirstCdb : HubPiece::kMoreCdb, port,
                                           Word(cdbBytes, 4 * k), Word(cdbBytes, 4 * k + 2)));
    }
    const std::size_t dataPieces = count - kHubCdbPieces - 1;
    const bool out = direction == DataDirection::kOut;
    const std::span<const std::uint8_t> outData =
        data.first(std::min<std::size_t>(data.size(), dataLength));
    for (std::size_t k = 0; k < dataPieces; ++k) {
        if (out) {
            sequence.push_back(BuildHubRequest(HubPiece::kDataOut, port, Word(outData, 4 * k),
                                               Word(outData, 4 * k + 2)));
        } else {
            sequence.push_back(BuildHubRequest(HubPiece::kDataIn, port, 0, 0));
        }
    }
    sequence.push_back(BuildHubRequest(HubPiece::kFinal, port, 0, 0));
    return sequence;
}

}  // namespace kvx
