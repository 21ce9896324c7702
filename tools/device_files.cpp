#include "tools/device_files.h"

#include <cstdio>
#include <fstream>

namespace corvane::tools {

namespace {

bool Reported(const std::string& path, bool ok) {
    if (!ok) {
        std::fprintf(stderr, "Error: cannot write %s\n", path.c_str());
    }
    return ok;
}

bool WriteTranscript(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) {
        file << line << '\n';
    }
    file.close();
    return Reported(path, static_cast<bool>(file));
}

bool WriteFlash(const std::string& path, const midi::Bytes& flash) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(flash.data()),
               static_cast<std::streamsize>(flash.size()));
    file.close();
    return Reported(path, static_cast<bool>(file));
}

}  // namespace

bool WriteDeviceFiles(const DeviceOptions& options, const device::SimulatedDevice& device) {
    bool ok = true;
    if (!options.transcriptPath.empty()) {
        ok = WriteTranscript(options.transcriptPath, device.Transcript()) && ok;
    }
    if (!options.flashDumpPath.empty()) {
        ok = WriteFlash(options.flashDumpPath, device.Flash()) && ok;
    }
    return ok;
}

}  // namespace corvane::tools
