// LoadLibraryExA, GetProcAddress, FreeLibrary and GetModuleFileNameA over the dynamic linker.

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/library.hpp"
#include "platform/posix/handles.hpp"

namespace platform::posix {
namespace {

// The running program's real path, from /proc/self/exe; empty when it cannot be read.
std::string program_path() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return {};
    }
    return std::string(path, static_cast<size_t>(n));
}

// The folder part of a path, with its final '/'.
std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool is_file(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// The file a bare name stands for: as it is when it has an extension, else lib<name>.so.
std::string file_name_for(const char* name) {
    if (std::strchr(name, '.') != nullptr) {
        return name;
    }
    char file[PATH_MAX];
    return platform::library_file_name(name, file, sizeof file);
}

// dlopen with every name resolved at once, so a library that needs a name nobody provides is
// refused here rather than failing when that name is first used.
void* open_now(const std::string& file) {
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

// Why dlopen refused a file that exists: an unresolved name, as Windows reports a missing
// import, or a file that is no library for this program.
DWORD refusal_code() {
    const char* reason = dlerror();
    if (reason != nullptr && std::strstr(reason, "undefined symbol") != nullptr) {
        return ERROR_PROC_NOT_FOUND;
    }
    return ERROR_BAD_EXE_FORMAT;
}

HMODULE as_module(void* handle) {
    return reinterpret_cast<HMODULE>(handle);
}

void* as_handle(HMODULE module) {
    return reinterpret_cast<void*>(module);
}

// Copies text into buffer with the Windows truncation rule and returns GetModuleFileNameA's
// result.
DWORD copy_path(const std::string& text, LPSTR buffer, DWORD size) {
    if (size == 0 || buffer == nullptr) {
        fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text.size() < size) {
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return static_cast<DWORD>(text.size());
    }
    std::memcpy(buffer, text.data(), size - 1);
    buffer[size - 1] = '\0';
    fail(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

}  // namespace
}  // namespace platform::posix

using namespace platform::posix;

HMODULE LoadLibraryExA(LPCSTR name, HANDLE file, DWORD) {
    if (name == nullptr || *name == '\0' || file != 0) {
        fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    (void)dlerror();
    if (std::strchr(name, '/') != nullptr) {
        if (!is_file(name)) {
            fail(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        void* handle = open_now(name);
        if (handle == nullptr) {
            fail(refusal_code());
        }
        return as_module(handle);
    }
    const std::string wanted = file_name_for(name);
    // The program's own folder first, as the Windows loader looks beside the program first.
    const std::string beside = folder_of(program_path()) + wanted;
    if (is_file(beside)) {
        void* handle = open_now(beside);
        if (handle == nullptr) {
            fail(refusal_code());
        }
        return as_module(handle);
    }
    void* handle = open_now(wanted);
    if (handle == nullptr) {
        // The linker's reason tells a file it found but could not use from no file at all.
        const char* reason = dlerror();
        if (reason != nullptr && std::strstr(reason, "undefined symbol") != nullptr) {
            fail(ERROR_PROC_NOT_FOUND);
        } else if (reason != nullptr && std::strstr(reason, "ELF") != nullptr) {
            fail(ERROR_BAD_EXE_FORMAT);
        } else {
            fail(ERROR_MOD_NOT_FOUND);
        }
    }
    return as_module(handle);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (module == nullptr) {
        fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (name == nullptr) {
        fail(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* address = dlsym(as_handle(module), name);
    if (address == nullptr) {
        fail(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    // An object pointer from dlsym becomes a function pointer; POSIX guarantees they convert.
    FARPROC entry = nullptr;
    static_assert(sizeof entry == sizeof address);
    std::memcpy(&entry, &address, sizeof entry);
    return entry;
}

BOOL FreeLibrary(HMODULE module) {
    if (module == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    return dlclose(as_handle(module)) == 0 ? TRUE : fail(ERROR_INVALID_HANDLE);
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    if (module == nullptr) {
        const std::string path = program_path();
        if (path.empty()) {
            fail(ERROR_GEN_FAILURE);
            return 0;
        }
        return copy_path(path, buffer, size);
    }
    link_map* map = nullptr;
    if (dlinfo(as_handle(module), RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
        fail(ERROR_INVALID_HANDLE);
        return 0;
    }
    // The name the linker opened it by may be relative or pass through links; the path shown is
    // the file's own.
    if (map->l_name == nullptr || map->l_name[0] == '\0') {
        return copy_path(program_path(), buffer, size);
    }
    char* real = realpath(map->l_name, nullptr);
    if (real == nullptr) {
        return copy_path(map->l_name, buffer, size);
    }
    const std::string path = real;
    std::free(real);
    return copy_path(path, buffer, size);
}
