// The handheld's shell at the end of a boot: every file in the start-up folder is started.
// A loadable module with the start-up entry runs on its own thread (an ARM module on a CPU
// context of that thread); shortcuts name programs
// of the ROM, which this handheld only records.
#include "machine_impl.h"

namespace tova {

namespace {

bool IsShortcut(const std::u16string& name) {
    return name.size() >= 4 && SameName(std::u16string_view(name).substr(name.size() - 4), u".lnk");
}

}  // namespace

void MachineImpl::RunStartupPrograms(uint32_t bootCount, uint64_t generation) {
    const std::u16string folder = StartupFolder();
    for (const auto& name : store_.List(folder)) {
        std::u16string path = folder + u"\\" + name;
        if (store_.IsFolder(path)) continue;
        if (IsShortcut(name)) {
            std::lock_guard lock(mutex_);
            launches_.push_back({path, ShellLaunch::Kind::kShortcut, bootCount, {}});
            continue;
        }
        StartProgram(path, bootCount, generation);
    }
}

void MachineImpl::StartProgram(const std::u16string& path, uint32_t bootCount,
                               uint64_t generation) {
    std::string error;
    std::shared_ptr<LoadedModule> module = LoadModule(path, &error);
    auto entry = module ? module->Function<StartupEntry>(kStartupEntryName) : nullptr;
    CpuExports* cpu = module ? module->Cpu() : nullptr;
    std::lock_guard lock(mutex_);
    if (!entry && !(cpu && cpu->Has(kStartupEntryName))) {
        if (module) error = std::string("no ") + kStartupEntryName + " entry";
        launches_.push_back({path, ShellLaunch::Kind::kNotRunnable, bootCount, error});
        return;
    }
    launches_.push_back({path, ShellLaunch::Kind::kModule, bootCount, {}});
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([this, module, entry, cpu, generation, done, path]() mutable {
        {
            DeviceScope scope(generation);
            try {
                if (cpu)
                    cpu->CallStartup(kStartupEntryName);  // a guest error is on the debug output
                else
                    entry(nullptr, nullptr, nullptr, 0);
            } catch (const MachineHalted&) {
                // The boot ended under the program: a reset or power cut.
            } catch (const std::exception& e) {
                RecordDebugLine(u"program " + path + u" stopped by a host error: " +
                                FromUtf8(e.what()));
            }
        }
        module.reset();
        done->store(true);
        std::lock_guard lock(mutex_);
        changed_.notify_all();
    });
    programs_.push_back({std::move(thread), done});
}

void MachineImpl::JoinFinishedPrograms() {
    std::list<Program> finished;
    {
        std::lock_guard lock(mutex_);
        for (auto it = programs_.begin(); it != programs_.end();) {
            auto next = std::next(it);
            if (it->done->load()) finished.splice(finished.end(), programs_, it);
            it = next;
        }
    }
    for (auto& p : finished) p.thread.join();
}

void MachineImpl::JoinAllPrograms() {
    std::list<Program> all;
    {
        std::lock_guard lock(mutex_);
        all.swap(programs_);
    }
    // Their boot has ended: each stops at its next platform call.
    for (auto& p : all) p.thread.join();
}

}  // namespace tova
