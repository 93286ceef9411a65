// Win32 implementation of the facts a run record holds: GetSystemInfo,
// GlobalMemoryStatusEx, RtlGetVersion, the processor's brand string
// (cpuid), and the volume that holds a folder.
#include "platform/platform.h"

#include <windows.h>

#include <cpuid.h>

#include <cstdio>

namespace {

using RtlGetVersionRoutine = LONG(WINAPI*)(OSVERSIONINFOW*);

std::string kernel_version() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (!ntdll) return std::string();
    auto get_version = reinterpret_cast<RtlGetVersionRoutine>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!get_version || get_version(&version) != 0) return std::string();
    char text[48];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu", version.dwMajorVersion, version.dwMinorVersion,
                  version.dwBuildNumber);
    return text;
}

// The processor's brand string, from the CPU itself (cpuid), so that no
// library beyond kernel32 is needed.
std::string processor_name() {
    unsigned int words[12] = {};
    unsigned int top = __get_cpuid_max(0x80000000u, nullptr);
    if (top < 0x80000004u) return std::string();
    for (unsigned int leaf = 0; leaf < 3; ++leaf)
        __get_cpuid(0x80000002u + leaf, &words[leaf * 4], &words[leaf * 4 + 1], &words[leaf * 4 + 2],
                    &words[leaf * 4 + 3]);
    std::string text(reinterpret_cast<const char*>(words), sizeof words);
    text = text.c_str();  // up to its terminator
    const size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

MachineFacts machine_facts() {
    MachineFacts facts;
    facts.system = "Windows";
    facts.kernel = kernel_version();
    facts.cpu = processor_name();
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    facts.cores = system.dwNumberOfProcessors;
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    if (GlobalMemoryStatusEx(&memory)) facts.memory_mb = memory.ullTotalPhys >> 20;
    return facts;
}

TargetFacts target_facts(const char* folder) {
    TargetFacts facts;
    ULARGE_INTEGER free_to_caller;
    if (GetDiskFreeSpaceExA(folder, &free_to_caller, nullptr, nullptr)) {
        facts.free_known = true;
        facts.free_mb = free_to_caller.QuadPart >> 20;
    }
    char root[MAX_PATH];
    if (!GetVolumePathNameA(folder, root, MAX_PATH)) return facts;
    char file_system[MAX_PATH + 1];
    if (GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, nullptr, file_system, sizeof file_system))
        facts.file_system = file_system;
    facts.device = root;
    if (facts.device.size() > 1 && facts.device.back() == '\\') facts.device.pop_back();
    return facts;
}

bool file_replace(const char* from, const char* to, int* error) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    *error = static_cast<int>(GetLastError());
    return false;
}

bool file_remove(const char* name, int* error) {
    if (DeleteFileA(name)) return true;
    if (error) *error = static_cast<int>(GetLastError());
    return false;
}
