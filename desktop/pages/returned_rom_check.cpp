#include "desktop/pages/returned_rom_check.h"

#include "format/rom_package_header.h"
#include "desktop/device/service_client.h"
#include "desktop/device/transfer.h"
#include "desktop/device/update_messages.h"
#include "worker_steps.h"

int CheckReturnedRom(std::shared_ptr<UpdateWorkerContext> pagePtr, int32_t packageBuild) {
    UpdateWorkerContext& page = *pagePtr;
    auto post = [&page](ReturnedRom found, uint32_t build) {
        page.window->PostMessage(WM_UPD_RETURN_CHECKED, ui::WPARAM(found), ui::LPARAM(build));
        return 0;
    };
    if (!BeginStep(page, update_worker_testing::Step::kCheckReturnedRom)) return 0;
    if (CopyServiceLibrary() != 0) return post(ReturnedRom::kUnreadable, 0);
    DeviceInfo info{};
    if (InvokeFnTOVAInfo(&info) != S_OK) return post(ReturnedRom::kUnreadable, 0);
    if (page.Abandoned()) return 0;
    return post(RunsPackageBuild(info.romBuild, packageBuild) ? ReturnedRom::kPackageBuild
                                                              : ReturnedRom::kOtherBuild,
                info.romBuild);
}
