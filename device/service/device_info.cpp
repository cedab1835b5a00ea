#include "device/service/device_info_record.h"

#include "device/common/model_detection.h"
#include "device/service/identity.h"
#include "device/service/platform_info.h"
#include "device/service/power.h"
#include "device/service/wide_text.h"
#include "platform/wince/api.h"

template <uint32_t N, uint32_t M>
static void SetText(char16_t (&field)[N], const char16_t (&text)[M]) {
    CopyWideText(field, N, text, M);
}

static void FillRecognised(DeviceInfo& info) {
    info.valid = 1;
    info.languageId = GetSystemDefaultLangID();
    const PowerStatus power = ReadPowerStatus();
    info.acOnline = power.acOnline;
    info.batteryPercent = power.batteryPercent;
    const ModelAddresses& model = ModelFor(IsAdvancedModel());
    info.ramMegabytes = model.ramMegabytes;
    info.romMegabytes = model.romMegabytes;
    info.memoryConfig = model.memoryConfig;
    info.romBuild = QueryRomBuild();
    QueryRomVersionText(info.romVersionText, sizeof info.romVersionText / sizeof(char16_t));
    SetText(info.modelName, kModelNameText);
}

static void FillUnrecognised(DeviceInfo& info) {
    info.valid = 0;
    info.acOnline = 0;
    info.batteryPercent = kBatteryUnknownDevice;
    info.ramMegabytes = 0;
    info.romMegabytes = 0;
    info.memoryConfig = 0;
    info.romBuild = 0;
    SetText(info.romVersionText, kUnknownText);
    SetText(info.modelName, kUnknownText);
}

void FillDeviceInfo(DeviceInfo& info) {
    info.size = kDeviceInfoSize;
    if (IsSupportedDevice()) {
        FillRecognised(info);
    } else {
        FillUnrecognised(info);
    }
}
