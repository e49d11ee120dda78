#include "os.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#if defined(__linux__)
#include <sched.h>
#endif

#if defined(__APPLE__)
#include <mach/mach.h>
#include <sys/sysctl.h>
#include <sys/types.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace talvo::os {
namespace {

// The thread count reported by the C++ runtime; at least 1.
[[maybe_unused]] std::size_t runtime_cpus() {
    unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

#if !defined(_WIN32)
// The physical memory, or ~0 where the system does not say.
std::uint64_t physical_memory() {
    long pages = sysconf(_SC_PHYS_PAGES);
    long page = sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page)
                                 : ~std::uint64_t{0};
}
#endif

#if defined(__linux__)
// ---------------------------------------------------------------------------
// Linux: CPU affinity and cgroup CPU quotas.

std::optional<std::string> read_file(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "re");
    if (!f) return std::nullopt;
    std::string text;
    char buf[4096];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
    std::fclose(f);
    return text;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = s.find(sep, start);
        out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return out;
        start = at + 1;
    }
}

std::optional<std::int64_t> parse_int(const std::string& s) {
    std::string t = s;
    while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.pop_back();
    if (t.empty()) return std::nullopt;
    char* end = nullptr;
    long long v = std::strtoll(t.c_str(), &end, 10);
    if (*end != '\0') return std::nullopt;
    return v;
}

// Processors granted by a quota over a period, rounded up.
std::size_t quota_cpus(std::int64_t quota, std::int64_t period) {
    if (quota <= 0 || period <= 0) return std::numeric_limits<std::size_t>::max();
    return static_cast<std::size_t>(std::max<std::int64_t>(1, (quota + period - 1) / period));
}

struct Mount {
    std::string root;   // the part of the hierarchy mounted there
    std::string point;  // where it is mounted
};

// The mount of the cgroup v2 hierarchy (v1 == false) or of the v1 hierarchy
// holding the "cpu" controller.
std::optional<Mount> find_cgroup_mount(bool v1) {
    auto info = read_file("/proc/self/mountinfo");
    if (!info) return std::nullopt;
    for (const std::string& line : split(*info, '\n')) {
        std::size_t dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        std::vector<std::string> before = split(line.substr(0, dash), ' ');
        std::vector<std::string> after = split(line.substr(dash + 3), ' ');
        if (before.size() < 5 || after.size() < 3) continue;
        if (!v1 && after[0] == "cgroup2") return Mount{before[3], before[4]};
        if (v1 && after[0] == "cgroup") {
            for (const std::string& opt : split(after[2], ',')) {
                if (opt == "cpu") return Mount{before[3], before[4]};
            }
        }
    }
    return std::nullopt;
}

// The smallest CPU quota set on the process's cgroup or any of its ancestors.
std::size_t cgroup_cpus() {
    std::size_t limit = std::numeric_limits<std::size_t>::max();
    auto groups = read_file("/proc/self/cgroup");
    if (!groups) return limit;
    for (const std::string& line : split(*groups, '\n')) {
        std::vector<std::string> f = split(line, ':');
        if (f.size() < 3) continue;
        bool v2 = f[0] == "0" && f[1].empty();
        bool v1 = false;
        for (const std::string& c : split(f[1], ',')) v1 = v1 || c == "cpu";
        if (!v1 && !v2) continue;
        auto mount = find_cgroup_mount(v1);
        if (!mount) continue;
        // The group's path below the mounted part of the hierarchy.
        std::string path = line.substr(f[0].size() + f[1].size() + 2);
        if (mount->root != "/" && path.rfind(mount->root, 0) == 0) path = path.substr(mount->root.size());
        for (;;) {
            std::string dir = mount->point + path;
            if (v2) {
                if (auto text = read_file(dir + "/cpu.max")) {
                    std::vector<std::string> parts = split(*text, ' ');
                    if (parts.size() >= 2) {
                        auto q = parse_int(parts[0]);
                        auto p = parse_int(parts[1]);
                        if (q && p) limit = std::min(limit, quota_cpus(*q, *p));
                    }
                }
            } else {
                auto q = read_file(dir + "/cpu.cfs_quota_us");
                auto p = read_file(dir + "/cpu.cfs_period_us");
                if (q && p) {
                    auto qv = parse_int(*q);
                    auto pv = parse_int(*p);
                    if (qv && pv) limit = std::min(limit, quota_cpus(*qv, *pv));
                }
            }
            if (path.empty() || path == "/") break;
            std::size_t slash = path.rfind('/');
            path = slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
        }
    }
    return limit;
}

std::size_t affinity_cpus() {
    for (int size = 1024; size <= (1 << 20); size *= 4) {
        cpu_set_t* set = CPU_ALLOC(size);
        if (!set) break;
        std::size_t bytes = CPU_ALLOC_SIZE(size);
        CPU_ZERO_S(bytes, set);
        if (sched_getaffinity(0, bytes, set) == 0) {
            std::size_t n = static_cast<std::size_t>(CPU_COUNT_S(bytes, set));
            CPU_FREE(set);
            return n;
        }
        CPU_FREE(set);
        if (errno != EINVAL) break;
    }
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<std::size_t>(n) : 1;
}

// Transparent huge pages are 2 MiB: mappings are made in whole huge pages.
constexpr std::size_t kHugePage = std::size_t{1} << 21;

std::size_t mapped_size(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }
#endif  // __linux__

#if defined(_WIN32)
// ---------------------------------------------------------------------------
// Windows: the process affinity mask and a job object's CPU rate limit.

// Processors in the process affinity mask, or 0 when the process spans
// several processor groups (the system then reports no mask at all).
std::size_t affinity_cpus() {
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) return 0;
    std::size_t n = 0;
    for (; process != 0; process &= process - 1) ++n;
    return n;
}

// The processors' worth of cycles a CPU rate limit on the process's job
// leaves it, rounded up; no limit where there is no job, no rate control, or
// only a relative weight. The rate is in cycles per 10,000 of the whole
// system's (`total` processors).
std::size_t job_rate_cpus(std::size_t total) {
    JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate{};
    if (!QueryInformationJobObject(nullptr, JobObjectCpuRateControlInformation, &rate, sizeof rate, nullptr))
        return std::numeric_limits<std::size_t>::max();
    DWORD flags = rate.ControlFlags;
    if (!(flags & JOB_OBJECT_CPU_RATE_CONTROL_ENABLE) || (flags & JOB_OBJECT_CPU_RATE_CONTROL_WEIGHT_BASED))
        return std::numeric_limits<std::size_t>::max();
    // With a minimum and a maximum rate, the two share the rate's place: the
    // maximum is its high 16 bits (not every SDK's header names the halves).
    std::uint64_t per10000 =
        (flags & JOB_OBJECT_CPU_RATE_CONTROL_MIN_MAX_RATE) ? (rate.CpuRate >> 16) & 0xFFFF : rate.CpuRate;
    if (per10000 == 0 || per10000 >= 10000) return std::numeric_limits<std::size_t>::max();
    std::uint64_t cpus = (per10000 * total + 9999) / 10000;
    return static_cast<std::size_t>(std::max<std::uint64_t>(1, cpus));
}
#endif  // _WIN32

#if defined(__APPLE__)
template <class T>
bool sysctl_value(const char* name, T& out) {
    std::size_t size = sizeof out;
    return sysctlbyname(name, &out, &size, nullptr, 0) == 0 && size == sizeof out;
}
#endif

}  // namespace

// ---------------------------------------------------------------------------
// Processors.

std::size_t available_cpus() {
#if defined(__linux__)
    return std::max<std::size_t>(1, std::min(affinity_cpus(), cgroup_cpus()));
#elif defined(__APPLE__)
    int n = 0;
    if (sysctl_value("hw.activecpu", n) && n > 0) return static_cast<std::size_t>(n);
    return runtime_cpus();
#elif defined(_WIN32)
    DWORD active = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    std::size_t total = active > 0 ? static_cast<std::size_t>(active) : runtime_cpus();
    std::size_t allowed = affinity_cpus();
    if (allowed == 0 || allowed > total) allowed = total;
    return std::max<std::size_t>(1, std::min(allowed, job_rate_cpus(total)));
#else
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<std::size_t>(n) : runtime_cpus();
#endif
}

// ---------------------------------------------------------------------------
// Threads, signals and fork.

void name_this_thread(const char* name) {
    char shortened[16];
    std::snprintf(shortened, sizeof shortened, "%s", name);
#if defined(__linux__)
    pthread_setname_np(pthread_self(), shortened);
#elif defined(__APPLE__)
    pthread_setname_np(shortened);
#elif defined(_WIN32)
    // SetThreadDescription exists from Windows 10 1607 on: looked up at run
    // time so that older systems still load the module.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return;
    auto set = reinterpret_cast<SetDescription>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")));
    if (!set) return;
    wchar_t wide[16];
    std::size_t k = 0;
    for (; shortened[k] != '\0'; ++k) wide[k] = static_cast<unsigned char>(shortened[k]);
    wide[k] = L'\0';
    set(GetCurrentThread(), wide);
#else
    (void)shortened;
#endif
}

void with_signals_blocked(void (*fn)(void*), void* ctx) {
#if defined(_WIN32)
    fn(ctx);
#else
    struct Restore {
        sigset_t old;
        ~Restore() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
    };
    sigset_t all;
    sigfillset(&all);
    Restore restore;
    pthread_sigmask(SIG_SETMASK, &all, &restore.old);
    fn(ctx);
#endif
}

void on_fork_child(void (*handler)()) {
#if defined(_WIN32)
    (void)handler;
#else
    pthread_atfork(nullptr, nullptr, handler);
#endif
}

// ---------------------------------------------------------------------------
// Memory.

std::uint64_t available_memory() {
#if defined(__linux__)
    std::uint64_t available = 0, swap_free = 0;
    bool found = false;
    if (std::FILE* f = std::fopen("/proc/meminfo", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned long long kib = 0;
            if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
                available = kib * 1024;
                found = true;
            } else if (std::sscanf(line, "SwapFree: %llu kB", &kib) == 1) {
                swap_free = kib * 1024;
            }
        }
        std::fclose(f);
    }
    return found ? available + swap_free : physical_memory();
#elif defined(__APPLE__)
    vm_statistics64_data_t vm;
    mach_msg_type_number_t count = HOST_VM_INFO64_COUNT;
    vm_size_t page = 0;
    mach_port_t host = mach_host_self();
    if (host_page_size(host, &page) != KERN_SUCCESS ||
        host_statistics64(host, HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&vm), &count) != KERN_SUCCESS)
        return physical_memory();
    std::uint64_t pages = std::uint64_t{vm.free_count} + vm.inactive_count + vm.purgeable_count;
    std::uint64_t bytes = pages * page;
    xsw_usage swap{};
    if (sysctl_value("vm.swapusage", swap)) bytes += swap.xsu_avail;
    return bytes;
#elif defined(_WIN32)
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status)) return status.ullAvailPageFile;
    return ~std::uint64_t{0};
#else
    return physical_memory();
#endif
}

void* map_zeroed(std::size_t bytes) {
    if (bytes == 0) return nullptr;
#if defined(_WIN32)
    // Committed pages of a fresh reservation read as zero.
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
#if defined(__linux__)
    bytes = mapped_size(bytes);
#endif
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANON, -1, 0);
    if (p == MAP_FAILED) return nullptr;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    madvise(p, bytes, MADV_HUGEPAGE);
#endif
    return p;
#endif
}

void release_zeroed(void* p, std::size_t bytes) {
    if (!p) return;
#if defined(_WIN32)
    (void)bytes;
    VirtualFree(p, 0, MEM_RELEASE);
#else
#if defined(__linux__)
    bytes = mapped_size(bytes);
#endif
    munmap(p, bytes);
#endif
}

}  // namespace talvo::os
