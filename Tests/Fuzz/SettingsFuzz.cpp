// Loads the input as the settings file; whatever it holds, the store opens, reads, writes and
// opens again.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "FuzzSupport.hpp"
#include "Runtime/Settings.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    namespace fs = std::filesystem;
    fuzz::silenceLog();
    static const fs::path folder = fs::temp_directory_path() / ("quib-fuzz-settings-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path path = folder / "defaults.json";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    auto settings = Settings::atPath(path);
    (void)settings->string("quib.serviceName");
    (void)settings->integer("quib.port");
    (void)settings->bytes("quib.devices.approved.v1");
    (void)settings->stringList("quib.stunServers");
    (void)settings->setBool("quib.listening", true);
    fuzz::require(Settings::atPath(path)->boolean("quib.listening") == true);
    return 0;
}
