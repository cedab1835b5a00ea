// The registry as the ROM builds it on a cold boot.
#include "emulator/registry.h"

#include <string>

namespace tova {

const std::u16string_view kRomRemovableDriverKeys[10] = {
    u"ExtConnDrv", u"FlshDrv", u"IrCOMM", u"IrDA", u"sdmmcloader",
    u"Serial",     u"USB",     u"WaveDev", u"GSM610", u"NDIS"};
const std::u16string_view kRomLastingDriverKeys[5] = {u"Battery", u"Touch", u"Display",
                                                      u"Keybd", u"PCMCIA"};

namespace {

struct DriverDefaults {
    std::u16string_view key;
    std::u16string_view dll;
    std::u16string_view prefix;
    uint32_t order;
};

constexpr DriverDefaults kDrivers[] = {
    {u"ExtConnDrv", u"extconn.dll", u"EXT", 10}, {u"FlshDrv", u"flshdrv.dll", u"FLS", 2},
    {u"IrCOMM", u"ircomm.dll", u"COM", 30},      {u"IrDA", u"irsir.dll", u"IRD", 31},
    {u"sdmmcloader", u"sdmmc.dll", u"SDL", 20},  {u"Serial", u"serial.dll", u"COM", 12},
    {u"USB", u"usbfn.dll", u"UFN", 14},          {u"WaveDev", u"wavedev.dll", u"WAV", 16},
    {u"GSM610", u"gsm610.dll", u"ACM", 40},      {u"NDIS", u"ndis.dll", u"NDS", 24},
    {u"Battery", u"battdrvr.dll", u"BAT", 1},    {u"Touch", u"touch.dll", u"TCH", 3},
    {u"Display", u"ddi.dll", u"DSP", 4},         {u"Keybd", u"keybddr.dll", u"KBD", 5},
    {u"PCMCIA", u"pcmcia.dll", u"PCC", 6},
};

}  // namespace

void Registry::FillRomDefaults() {
    auto hklm = hives_[static_cast<int>(Hive::kLocalMachine)];
    auto builtIn = CreatePath(hklm, u"Drivers\\BuiltIn", nullptr);
    uint32_t index = 1;
    for (const auto& d : kDrivers) {
        auto key = CreatePath(builtIn, d.key, nullptr);
        key->values.emplace_back(u"Dll", RegValue::String(d.dll));
        key->values.emplace_back(u"Prefix", RegValue::String(d.prefix));
        key->values.emplace_back(u"Order", RegValue::Dword(d.order));
        key->values.emplace_back(u"Index", RegValue::Dword(index++));
    }
    auto ident = CreatePath(hklm, u"Ident", nullptr);
    ident->values.emplace_back(u"Name", RegValue::String(u"Handheld"));
    ident->values.emplace_back(u"Desc", RegValue::String(u"Pocket PC"));
    auto shell = CreatePath(hklm, u"System\\Shell", nullptr);
    shell->values.emplace_back(u"StartupFolder", RegValue::String(u"\\Windows\\StartUp"));
    CreatePath(hives_[static_cast<int>(Hive::kCurrentUser)], u"ControlPanel", nullptr);
}

}  // namespace tova
