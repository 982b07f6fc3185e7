// A sysfs and dev tree for the Linux host, laid out as the kernel lays out USB storage:
//   sys/devices/.../usbB/B-P/{idVendor,idProduct,serial}
//   sys/devices/.../B-P/B-P:1.0/hostH/targetH:0:0/H:0:0:L/{vendor,model,rev,type}
//   sys/block/<name>/{device -> that SCSI device, removable, size, dev, <name>N/...}
//   dev/<name>, dev/<name>N          empty files, or symlinks to real nodes
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/linux/sysfs_units.h"
#include "support/test_host.h"

namespace kvx::test {

struct FixtureUnit {
    std::string name = {};       // "sdc"
    std::string usbDevice = {};  // "2-1"; empty = not USB (an ATA disk)
    unsigned host = 6, lun = 0;
    std::string vid = "0000", pid = "0000", serial = {};
    std::string vendor = {}, model = {}, rev = "1.00";
    unsigned type = 0;  // SCSI peripheral type
    bool removable = false;
    std::uint64_t sectors = 0;
    std::string dev = "8:0";
    std::vector<std::string> partitions = {};  // names, numbered 1, 2, ... from sector 2048
    std::filesystem::path node = {};           // what dev/<name> links to; empty = an empty file
};

class SysfsFixture {
  public:
    linux_host::Roots roots() const { return {dir_.path() / "sys", dir_.path() / "dev"}; }

    void Add(const FixtureUnit& u) {
        const std::filesystem::path sys = dir_.path() / "sys";
        std::filesystem::path scsi;
        if (u.usbDevice.empty()) {
            scsi = sys / "devices/pci0000:00/0000:00:1f.2/ata1" / Host(u) / Target(u) / Scsi(u);
        } else {
            const auto usb = sys / "devices/pci0000:00/0000:00:14.0" /
                             ("usb" + u.usbDevice.substr(0, u.usbDevice.find('-'))) / u.usbDevice;
            Write(usb / "idVendor", u.vid);
            Write(usb / "idProduct", u.pid);
            if (!u.serial.empty()) {
                Write(usb / "serial", u.serial);
            }
            scsi = usb / (u.usbDevice + ":1.0") / Host(u) / Target(u) / Scsi(u);
        }
        Write(scsi / "vendor", u.vendor);
        Write(scsi / "model", u.model);
        Write(scsi / "rev", u.rev);
        Write(scsi / "type", std::to_string(u.type));
        const auto block = sys / "block" / u.name;
        std::filesystem::create_directories(block);
        std::filesystem::create_directory_symlink(scsi, block / "device");
        Write(block / "removable", u.removable ? "1" : "0");
        Write(block / "size", std::to_string(u.sectors));
        Write(block / "dev", u.dev);
        const auto dev = dir_.path() / "dev";
        std::filesystem::create_directories(dev);
        if (u.node.empty()) {
            Write(dev / u.name, "");
        } else {
            std::filesystem::create_symlink(u.node, dev / u.name);
        }
        unsigned n = 1;
        for (const std::string& p : u.partitions) {
            Write(block / p / "partition", std::to_string(n));
            Write(block / p / "start", "2048");
            Write(block / p / "size", std::to_string(u.sectors > 2048 ? u.sectors - 2048 : 0));
            Write(block / p / "dev", u.dev.substr(0, u.dev.find(':')) + ":" + std::to_string(n));
            Write(dev / p, "");
            ++n;
        }
    }

  private:
    static std::string Host(const FixtureUnit& u) { return "host" + std::to_string(u.host); }
    static std::string Target(const FixtureUnit& u) {
        return "target" + std::to_string(u.host) + ":0:0";
    }
    static std::string Scsi(const FixtureUnit& u) {
        return std::to_string(u.host) + ":0:0:" + std::to_string(u.lun);
    }
    static void Write(const std::filesystem::path& file, const std::string& text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text << (text.empty() ? "" : "\n");
    }

    ScratchDir dir_;
};

}  // namespace kvx::test
