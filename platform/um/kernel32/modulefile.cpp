// Which file a module handle (its load address) came from.
#include "um/modules.h"

#include <link.h>
#include <unistd.h>

namespace umsim {

uintptr_t ProgramBase()
{
    uintptr_t base = 0;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            // The program comes first in the loader's list.
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const auto& segment = info->dlpi_phdr[i];
                if (segment.p_type != PT_LOAD) continue;
                *static_cast<uintptr_t*>(data) = info->dlpi_addr + segment.p_vaddr - segment.p_offset;
                break;
            }
            return 1;
        },
        &base);
    return base;
}

uintptr_t ImageOfFile(const std::string& name)
{
    struct Search {
        const std::string& name;
        bool bare;
        uintptr_t base = 0;
    } search{name, name.find('/') == std::string::npos};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            if (!info->dlpi_name || !*info->dlpi_name) return 0;
            std::string path = info->dlpi_name;
            std::string file = path.substr(path.find_last_of('/') + 1);
            if (s->bare ? file != s->name : path != s->name) return 0;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const auto& segment = info->dlpi_phdr[i];
                if (segment.p_type != PT_LOAD) continue;
                s->base = info->dlpi_addr + segment.p_vaddr - segment.p_offset;
                return 1;
            }
            return 0;
        },
        &search);
    return search.base;
}

std::optional<std::string> ModuleFilePath(HMODULE module)
{
    struct Search {
        uintptr_t base;
        std::optional<std::string> path;
    } search{reinterpret_cast<uintptr_t>(module), std::nullopt};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            // The image starts at its first loadable segment, where the ELF header lies.
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const auto& segment = info->dlpi_phdr[i];
                if (segment.p_type != PT_LOAD) continue;
                bool first = info->dlpi_name == nullptr || !*info->dlpi_name;
                if (info->dlpi_addr + segment.p_vaddr - segment.p_offset == s->base && s->base) {
                    s->path = first ? std::string() : std::string(info->dlpi_name);
                    return 1;
                }
                break;
            }
            return 0;
        },
        &search);
    if (module && !search.path) return std::nullopt;
    if (!module || search.path->empty()) {
        // The program: its name is not in the loader's list.
        char buffer[4096];
        ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (length <= 0) return std::nullopt;
        return std::string(buffer, size_t(length));
    }
    return search.path;
}

}  // namespace umsim
