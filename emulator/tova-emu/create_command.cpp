// tova-emu create STATE [options]
#include <cstdio>

#include "arguments.h"
#include "commands.h"
#include "factory_rom.h"
#include "state_folder.h"

namespace tova::emu {

int CreateCommand(const std::vector<std::string>& args) {
    if (args.empty() || args[0].rfind("--", 0) == 0) throw UsageError("usage: create STATE [options]");
    std::filesystem::path state = args[0];
    MachineConfig config;
    // A handheld made here runs the modules built for its CPU, as setup copies them from the
    // program folder; host code is for tests that ask for it (--arm-modules off).
    config.armModules = true;
    std::string rom, factoryBuild;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--model") {
            std::string v = OptionValue(args, &i);
            if (!ParseModel(v, &config.model)) throw UsageError("--model is advanced or basic, not \"" + v + "\"");
        } else if (option == "--ac") {
            config.acOnline = ParseOnOffArgument(OptionValue(args, &i), "--ac");
        } else if (option == "--cable") {
            config.cableAttached = ParseOnOffArgument(OptionValue(args, &i), "--cable");
        } else if (option == "--battery") {
            std::string v = OptionValue(args, &i);
            if (!ParseBattery(v, &config.batteryPercent))
                throw UsageError("--battery is 0 to 100, or 255 for unknown, not \"" + v + "\"");
        } else if (option == "--language") {
            std::string v = OptionValue(args, &i);
            if (!ParseLanguage(v, &config.defaultLanguageId))
                throw UsageError("--language is a Windows language identifier such as 1033, not \"" + v + "\"");
        } else if (option == "--identifier") {
            std::string v = OptionValue(args, &i);
            if (!ParseIdentifier(v, &config.identifier))
                throw UsageError("--identifier is 32 hexadecimal digits, not \"" + v + "\"");
        } else if (option == "--arm-modules") {
            config.armModules = ParseOnOffArgument(OptionValue(args, &i), "--arm-modules");
        } else if (option == "--boot-delay") {
            config.bootDelayMs = uint32_t(ParseNumberArgument(OptionValue(args, &i), 3600000, "--boot-delay"));
        } else if (option == "--rom") {
            rom = OptionValue(args, &i);
        } else if (option == "--factory-build") {
            factoryBuild = OptionValue(args, &i);
        } else {
            throw UsageError("create does not know \"" + option + "\"");
        }
    }
    if (!rom.empty() && !factoryBuild.empty())
        throw UsageError("give either --rom or --factory-build, not both");
    std::error_code ec;
    if (std::filesystem::exists(state / state_files::kConfig, ec))
        throw CommandError(state.string() + " already holds a handheld");

    std::vector<uint8_t> image =
        rom.empty() ? FactoryFlashImage(config.model,
                                        factoryBuild.empty() ? kDefaultFactoryBuild : factoryBuild,
                                        config.defaultLanguageId)
                    : PackageFlashImage(rom);
    std::string problem = DescribeImageProblem(image, config.model);
    if (!problem.empty())
        std::fprintf(stderr, "tova-emu: warning: %s; the handheld will stay dead\n", problem.c_str());
    auto machine = Machine::Create(state, config, image);
    std::printf("created a %s handheld in %s\n",
                config.model == Model::kAdvanced ? "advanced" : "basic", state.string().c_str());
    return 0;
}

}  // namespace tova::emu
