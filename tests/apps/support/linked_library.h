// The device library linked into the test program, found by name as a loaded one would be.
#pragma once

#include <cstring>
#include <iterator>

#include "common/exports.h"
#include "frame/qda.h"

namespace kvx::test {

class LinkedLibrary final : public ui::SymbolSource {
  public:
    ui::AnyFunction Find(const char* name) override {
        struct Entry {
            const char* name;
            ui::AnyFunction function;
        };
        static const Entry kExports[] = {
            {"QDACheckCD", reinterpret_cast<ui::AnyFunction>(&QDACheckCD)},
            {"QDACheckSEC", reinterpret_cast<ui::AnyFunction>(&QDACheckSEC)},
            {"QDAGetChipNum", reinterpret_cast<ui::AnyFunction>(&QDAGetChipNum)},
            {"QDAEjectSec", reinterpret_cast<ui::AnyFunction>(&QDAEjectSec)},
            {"QDAGetPasswordStatus", reinterpret_cast<ui::AnyFunction>(&QDAGetPasswordStatus)},
            {"QDAGetDeviceCapacity", reinterpret_cast<ui::AnyFunction>(&QDAGetDeviceCapacity)},
            {"QDASHA2Auth", reinterpret_cast<ui::AnyFunction>(&QDASHA2Auth)},
            {"QDALaunchSec", reinterpret_cast<ui::AnyFunction>(&QDALaunchSec)},
            {"QDAHiddenPartRdWr", reinterpret_cast<ui::AnyFunction>(&QDAHiddenPartRdWr)},
            {"QDARdWrDirect", reinterpret_cast<ui::AnyFunction>(&QDARdWrDirect)},
            {"QDAChangePassWord", reinterpret_cast<ui::AnyFunction>(&QDAChangePassWord)},
            {"QDAFormatHDD", reinterpret_cast<ui::AnyFunction>(&QDAFormatHDD)},
        };
        for (const Entry& e : kExports) {
            if (std::strcmp(e.name, name) == 0) {
                return e.function;
            }
        }
        return nullptr;
    }
};

}  // namespace kvx::test
