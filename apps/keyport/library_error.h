// The messages for the library's error codes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "apps/keyport/session.h"

namespace kvx::keyport {

// The message for an error code, or nullopt for codes that show nothing (0, 45, 49 and the
// codes above the table). Texts naming the media type take the record's media type field.
std::optional<ui::Message> LibraryErrorMessage(const Session& session, std::uint8_t code,
                                               std::uint8_t mediaType);

// Shows that message in a plain box owned by `owner`; false when the code shows nothing.
bool ShowLibraryError(const Session& session, ui::MessageOwner& owner, std::uint8_t code,
                      std::uint8_t mediaType);

// The codes of the table, with the string each shows (composed texts by their first string).
struct LibraryErrorEntry {
    std::uint8_t code;
    ui::StringId id;
};
std::span<const LibraryErrorEntry> LibraryErrorTable();

}  // namespace kvx::keyport
