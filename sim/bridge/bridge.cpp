#include "sim/bridge/bridge.h"

#include <algorithm>

#include "sim/bridge/aes_engine.h"
#include "sim/bridge/commands.h"
#include "sim/bridge/medium.h"
#include "sim/bridge/wrapping.h"

namespace kvx::sim {
namespace {

std::string_view DirectionText(DataDirection d) {
    return d == DataDirection::kIn ? "in" : d == DataDirection::kOut ? "out" : "none";
}

CommandTraits TraitsOf(std::span<const std::uint8_t> cdb) {
    CommandTraits t;
    t.opcode = cdb.empty() ? 0 : cdb[0];
    if (const auto envelope = VendorEnvelope(cdb)) {
        t.vendorSub = (*envelope)[1];
        if (*t.vendorSub == 0xCF) {
            t.sectorRead = ((*envelope)[6] & 0x01) != 0;
            t.sectorWrite = !t.sectorRead;
        }
    }
    t.sectorRead = t.sectorRead || t.opcode == 0x28;
    t.sectorWrite = t.sectorWrite || t.opcode == 0x2A;
    return t;
}

// Carries out one command on the state of an open session. For data in, what the command
// produced is copied into hostData (only `transferred` bytes of it).
enum class Path { kPassThrough, kHub };

Outcome RunUnwrapped(DeviceSession& session, Path path, Unit unit,
                     std::span<const std::uint8_t> cdb, std::span<std::uint8_t> hostData,
                     DataDirection direction, bool& changed, WrapReceipt& wrapped) {
    BridgeState& st = session.state();
    if (!CdbLengthFits(cdb)) {
        return Outcome::Check(kInvalidField, "CDB length " + std::to_string(cdb.size()));
    }
    // Wrapped vendor commands come through the storage stack; the side channel carries them plain.
    const std::uint8_t received = cdb[0];
    const bool wrapper = path == Path::kPassThrough && IsWrapperOpcode(received);
    const StandardCommand* command = wrapper ? nullptr : FindStandardCommand(cdb[0]);
    if (command == nullptr && !wrapper) {
        return Outcome::Check(kInvalidOpcode, "unknown opcode");
    }
    bool& attention = unit == Unit::kCd ? st.attentionCd : st.attentionSecure;
    if (attention && cdb[0] != 0x12) {  // INQUIRY neither reports nor clears it
        attention = false;
        changed = true;
        return Outcome::Check(kPowerOnReset, "unit attention");
    }
    ForgetFirstHalf(st, received, changed);
    if (path == Path::kPassThrough && cdb[0] == 0x20 && st.bus == Bus::kAtapi) {
        // An ATAPI storage stack passes vendor commands only in their 0x21 form.
        return Outcome::Check(kInvalidOpcode, "plain vendor form through the ATAPI stack");
    }
    if (wrapper) {
        wrapped = ReceiveWrapped(st, cdb, hostData, direction, changed);
        if (wrapped.settled) {
            return *wrapped.settled;
        }
        cdb = wrapped.plain;
        command = FindStandardCommand(cdb[0]);
    } else if (path == Path::kPassThrough && PlainVendorRefused(st, cdb[0])) {
        return Outcome::Check(kInvalidField, "vendor commands must be wrapped");
    }
    if (command->needsOpenSecure && unit == Unit::kSecure && !st.secureOpen) {
        return Outcome::Check(kNotReady, "secure unit closed");
    }
    const Shape shape = command->shape(st, unit, cdb);
    if (!shape.transfer) {
        return Outcome::Check(shape.refusal, shape.note);
    }
    const Transfer t = *shape.transfer;
    if (hostData.size() != t.length || (t.length > 0 && direction != t.direction)) {
        return Outcome::Check(kInvalidField, "expects " + std::string(DirectionText(t.direction)) +
                                                 " " + std::to_string(t.length));
    }
    CommandTraits traits = TraitsOf(cdb);
    traits.opcode = received;
    if (const auto fault = TakeFault(st.faults, FaultKind::kFail, &traits)) {
        changed = true;
        return Outcome::Check(Sense{fault->sense[0], fault->sense[1], fault->sense[2]}, "fault");
    }
    // What a command produces may be a session answer or a deciphered sector.
    WipedBytes produced;
    std::span<std::uint8_t> data = hostData;
    if (t.direction == DataDirection::kIn) {
        produced.assign(t.length, 0);
        data = produced;
    }
    CommandContext context{st, session.paths(), unit, cdb, data};
    Outcome outcome = command->run(context);
    changed = changed || context.stateChanged;
    if (outcome.good && t.direction == DataDirection::kIn) {
        std::uint32_t moved = std::min<std::uint32_t>(outcome.transferred, t.length);
        if (const auto fault = TakeFault(st.faults, FaultKind::kShort, &traits)) {
            changed = true;
            moved = std::min(moved, fault->value);
            outcome.note = "short data fault";
        }
        std::copy_n(produced.begin(), moved, hostData.begin());
        outcome.transferred = moved;
    }
    if (!outcome.good) {
        outcome.transferred = 0;
    }
    return outcome;
}

// A command as the firmware runs it, with what the wrapping makes of it: a wrapped command that
// the device carried out counts in its session.
Outcome RunCommand(DeviceSession& session, Path path, Unit unit, std::span<const std::uint8_t> cdb,
                   std::span<std::uint8_t> hostData, DataDirection direction, bool& changed) {
    WrapReceipt wrapped;
    Outcome outcome = RunUnwrapped(session, path, unit, cdb, hostData, direction, changed, wrapped);
    if (!wrapped.note.empty()) {
        if (outcome.good) {
            CountWrapped(session.state());
            changed = true;
        }
        outcome.note = outcome.note.empty() ? wrapped.note : wrapped.note + ": " + outcome.note;
    }
    return outcome;
}

// Counts one delivered command against an unplug plan.
void CountForUnplug(BridgeState& st, bool& changed) {
    if (const auto fault = TakeFault(st.faults, FaultKind::kUnplugAfter, nullptr)) {
        changed = true;
        if (fault->count <= 1) {
            st.plugged = false;
        }
    }
}

LogEntry EntryFor(Unit unit, std::string_view via, std::span<const std::uint8_t> cdb,
                  DataDirection direction, std::size_t length, const Outcome& outcome) {
    LogEntry e;
    e.unit = std::string(UnitName(unit));
    e.via = std::string(via);
    e.cdb.assign(cdb.begin(), cdb.end());
    e.direction = direction;
    e.length = static_cast<std::uint32_t>(length);
    e.status = outcome.good ? kStatusGood : kStatusCheckCondition;
    if (!outcome.good) {
        e.sense[0] = outcome.sense.key;
        e.sense[1] = outcome.sense.asc;
        e.sense[2] = outcome.sense.ascq;
    }
    e.transferred = outcome.transferred;
    e.note = outcome.note;
    return e;
}

bool Fails(const Outcome& o) {
    const std::uint8_t key = o.sense.key & 0x0F;
    return !o.good && key != 0x00 && key != 0x01;
}

}  // namespace

std::string_view UnitName(Unit unit) {
    return unit == Unit::kCd ? "cd" : "sec";
}

Bridge::Bridge(std::filesystem::path deviceDir) : paths_(std::move(deviceDir)) {}

BridgeReply Bridge::Execute(Unit unit, std::span<const std::uint8_t> cdb,
                            std::span<std::uint8_t> data, DataDirection direction) {
    BridgeReply reply;
    auto session = DeviceSession::Begin(paths_);
    if (!session || !session->state().plugged) {
        return reply;
    }
    bool changed = false;
    const Outcome outcome =
        RunCommand(*session, Path::kPassThrough, unit, cdb, data, direction, changed);
    CountForUnplug(session->state(), changed);
    if (changed) {
        session->Save();
    }
    AppendCommandLog(paths_.log, EntryFor(unit, "scsi", cdb, direction, data.size(), outcome));
    reply.delivered = true;
    reply.status = outcome.good ? kStatusGood : kStatusCheckCondition;
    if (!outcome.good) {
        reply.sense = FixedSense(outcome.sense);
    }
    reply.transferred = outcome.transferred;
    return reply;
}

void Bridge::RunHubCommand(DeviceSession& session, bool& changed) {
    hub_.executed = true;
    const std::size_t cdbLength = GroupCdbLength(hub_.cdb[0]);
    const std::span<const std::uint8_t> cdb(hub_.cdb.data(), cdbLength);
    // The side channel always carries 16 bytes; the command's own length comes from its opcode
    // group and the rest must be zero.
    Transfer transfer;
    std::optional<Outcome> refused;
    if (std::any_of(hub_.cdb.begin() + static_cast<std::ptrdiff_t>(cdbLength), hub_.cdb.end(),
                    [](std::uint8_t b) { return b != 0; })) {
        refused = Outcome::Check(kInvalidField, "bytes past the CDB not zero");
    } else if (const StandardCommand* command = FindStandardCommand(cdb[0])) {
        const Shape shape = command->shape(session.state(), Unit::kCd, cdb);
        if (shape.transfer) {
            transfer = *shape.transfer;
        }
    }
    WipedBytes buffer;
    if (transfer.direction == DataDirection::kIn) {
        buffer.assign(transfer.length, 0);
    } else if (transfer.direction == DataDirection::kOut) {
        buffer.assign(hub_.dataOut.begin(),
                      hub_.dataOut.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                                 hub_.dataOut.size(), transfer.length)));
    }
    const Outcome outcome = refused ? *refused
                                    : RunCommand(session, Path::kHub, Unit::kCd, cdb, buffer,
                                                 transfer.direction, changed);
    CountForUnplug(session.state(), changed);
    AppendCommandLog(paths_.log, [&] {
        LogEntry e = EntryFor(Unit::kCd, "hub", cdb, transfer.direction, buffer.size(), outcome);
        return e;
    }());
    if (transfer.direction == DataDirection::kIn) {
        buffer.resize(outcome.transferred);
        hub_.dataIn = std::move(buffer);
    }
    hub_.status = {outcome.good ? kStatusGood : kStatusCheckCondition,
                   static_cast<std::uint8_t>(Fails(outcome) ? 1 : 0),
                   outcome.good ? std::uint8_t{0} : outcome.sense.key,
                   outcome.good ? std::uint8_t{0} : outcome.sense.asc};
}

std::optional<std::vector<std::uint8_t>> Bridge::ControlIn(std::uint16_t value, std::uint16_t index,
                                                           std::uint16_t length) {
    auto session = DeviceSession::Begin(paths_);
    if (!session || !session->state().plugged) {
        hub_ = {};
        return std::nullopt;
    }
    BridgeState& st = session->state();
    bool changed = false;
    std::optional<std::vector<std::uint8_t>> reply;
    const auto low = [](std::uint16_t v) { return static_cast<std::uint8_t>(v); };
    const auto high = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
    switch (length) {
        case kHubFirstCdbLength:
            hub_ = {};
            hub_.cdb[0] = low(value);
            hub_.cdb[1] = high(value);
            hub_.cdb[2] = low(index);
            hub_.cdb[3] = high(index);
            hub_.cdbPieces = 1;
            reply.emplace();
            break;
        case kHubPieceLength:
            if (hub_.cdbPieces >= 1 && hub_.cdbPieces < 4) {
                const std::size_t at = 4 * static_cast<std::size_t>(hub_.cdbPieces);
                hub_.cdb[at] = low(value);
                hub_.cdb[at + 1] = high(value);
                hub_.cdb[at + 2] = low(index);
                hub_.cdb[at + 3] = high(index);
                ++hub_.cdbPieces;
                reply.emplace();
            } else if (hub_.cdbPieces == 4 && !hub_.executed) {
                hub_.dataOut.insert(hub_.dataOut.end(),
                                    {low(value), high(value), low(index), high(index)});
                reply.emplace();
            }
            break;
        case kHubDataInLength:
            if (hub_.cdbPieces == 4) {
                if (!hub_.executed) {
                    RunHubCommand(*session, changed);
                }
                const std::size_t n =
                    std::min(kHubDataInPiece, hub_.dataIn.size() - hub_.dataInPos);
                const auto from = hub_.dataIn.begin() + static_cast<std::ptrdiff_t>(hub_.dataInPos);
                reply.emplace(from, from + static_cast<std::ptrdiff_t>(n));
                hub_.dataInPos += n;
            }
            break;
        case kHubFinalLength:
            if (hub_.cdbPieces == 4) {
                if (!hub_.executed) {
                    RunHubCommand(*session, changed);
                }
                reply.emplace(hub_.status.begin(), hub_.status.end());
                if (TakeFault(st.faults, FaultKind::kHubStatus, nullptr)) {
                    changed = true;
                    (*reply)[1] = 1;
                }
                hub_ = {};
            }
            break;
        default: {
            const std::uint8_t type = high(value);
            const std::uint8_t which = low(value);
            if (type == 0x01) {
                reply = UsbDeviceDescriptor(st);
            } else if (type == 0x02 && which == 0) {
                reply = UsbConfigurationDescriptor();
                if (const auto fault =
                        TakeFault(st.faults, FaultKind::kHubDescriptorLength, nullptr)) {
                    changed = true;
                    (*reply)[2] = low(static_cast<std::uint16_t>(fault->value));
                    (*reply)[3] = high(static_cast<std::uint16_t>(fault->value));
                }
            } else if (type == 0x03) {
                reply = UsbStringDescriptor(st, which);
                if (reply) {
                    if (const auto fault =
                            TakeFault(st.faults, FaultKind::kHubDescriptorLength, nullptr)) {
                        changed = true;
                        (*reply)[0] = static_cast<std::uint8_t>(fault->value);
                    }
                }
            }
            if (reply && reply->size() > length) {
                reply->resize(length);
            }
            break;
        }
    }
    if (changed) {
        session->Save();
    }
    LogEntry e;
    e.unit = "usb";
    e.via = "ctl";
    e.cdb = {low(value), high(value), low(index), high(index), low(length), high(length)};
    e.direction = DataDirection::kIn;
    e.length = length;
    e.transferred = reply ? static_cast<std::uint32_t>(reply->size()) : 0;
    e.note = reply ? "" : "stall";
    AppendCommandLog(paths_.log, e);
    return reply;
}

std::optional<BridgeState> Bridge::State() const {
    return LoadDeviceState(paths_);
}

bool Bridge::Update(const std::function<void(BridgeState&)>& change) {
    return UpdateDeviceState(paths_, change);
}

std::optional<Fault> Bridge::TakeHostFault(FaultKind kind) {
    auto session = DeviceSession::Begin(paths_);
    if (!session) {
        return std::nullopt;
    }
    auto fault = TakeFault(session->state().faults, kind, nullptr);
    if (fault) {
        session->Save();
    }
    return fault;
}

void Bridge::LogHostEvent(Unit unit, std::string_view what, bool ok) {
    auto session = DeviceSession::Begin(paths_);
    if (!session) {
        return;
    }
    LogEntry e;
    e.unit = std::string(UnitName(unit));
    e.via = "vol";
    e.note = std::string(what) + (ok ? " ok" : " failed");
    AppendCommandLog(paths_.log, e);
}

bool Bridge::ReadUnitSectors(Unit unit, std::uint64_t sector, std::span<std::uint8_t> data) {
    auto session = DeviceSession::Begin(paths_);
    if (!session) {
        return false;
    }
    const BridgeState& st = session->state();
    if (!st.plugged || (unit == Unit::kSecure && !st.secureOpen)) {
        return false;
    }
    const std::uint64_t start = unit == Unit::kCd ? st.cdStart : st.secStart;
    const std::uint64_t size = unit == Unit::kCd ? st.cdSectors : st.secSectors;
    const std::uint64_t count = data.size() / kSectorSize;
    if (data.size() % kSectorSize != 0 || sector + count > size) {
        return false;
    }
    if (!ReadSectors(paths_.medium, start + sector, data)) {
        return false;
    }
    EngineDecipher(st, start + sector, data);
    return true;
}

}  // namespace kvx::sim
