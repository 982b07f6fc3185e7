#include "common/instance_marker.h"

namespace kvx::ui {

InstanceMarkers::~InstanceMarkers() {
    if (own_ != kInvalidHandle) {
        host_.Close(own_);
    }
}

bool InstanceMarkers::ClaimOwn(std::u16string_view name) {
    const auto block = host_.OpenOrCreateSharedBlock(name);
    if (!block) {
        return false;
    }
    bool ok = false;
    if (block->created) {
        ok = host_.WriteSharedBlock(block->handle, 1);
    } else {
        const auto value = host_.ReadSharedBlock(block->handle);
        ok = value.has_value() && *value == 0;
    }
    if (!ok) {
        host_.Close(block->handle);
        return false;
    }
    if (own_ != kInvalidHandle) {
        host_.Close(own_);
    }
    own_ = block->handle;
    return true;
}

SiblingState InstanceMarkers::Sibling(std::u16string_view name) {
    if (!host_.SharedBlockExists(name)) {
        return SiblingState::kIdle;
    }
    const auto block = host_.OpenOrCreateSharedBlock(name);
    if (!block) {
        return SiblingState::kUnreadable;
    }
    const auto value = host_.ReadSharedBlock(block->handle);
    host_.Close(block->handle);
    if (!value) {
        return SiblingState::kUnreadable;
    }
    return *value != 0 ? SiblingState::kRunning : SiblingState::kIdle;
}

}  // namespace kvx::ui
