// Whether two file names lead to the same file, on POSIX systems.

#include "platform/paths.hpp"

#include "platform/posix/device_names.hpp"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {
namespace {

// The name with its folder resolved (symbolic links, "." and ".."), so two spellings of a file
// still to be created compare equal; the name as given when the folder does not resolve.
std::string full_path(const char* name) {
    const std::string text = name;
    const size_t slash = text.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : text.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? text : text.substr(slash + 1);
    char resolved[PATH_MAX];
    if (realpath(folder.c_str(), resolved) == nullptr) {
        return text;
    }
    return std::string(resolved) + "/" + base;
}

}  // namespace

bool same_file(const char* a, const char* b) {
    struct stat info_a {};
    struct stat info_b {};
    const bool a_exists = stat(a, &info_a) == 0;
    const bool b_exists = stat(b, &info_b) == 0;
    if ((a_exists && S_ISCHR(info_a.st_mode)) || (b_exists && S_ISCHR(info_b.st_mode))) {
        return false;
    }
    if (std::strcmp(a, b) == 0) {
        return true;
    }
    if (a_exists && b_exists) {
        return info_a.st_dev == info_b.st_dev && info_a.st_ino == info_b.st_ino;
    }
    if (a_exists != b_exists) {
        return false;  // one file is there and the other is not: they are not one file
    }
    return full_path(a) == full_path(b);
}

bool same_device(const char* a, const char* b) {
    const std::string path_a = posix::device_path(a);
    const std::string path_b = posix::device_path(b);
    if (path_a == path_b) {
        return true;
    }
    struct stat info_a {};
    struct stat info_b {};
    if (stat(path_a.c_str(), &info_a) != 0 || stat(path_b.c_str(), &info_b) != 0) {
        return false;
    }
    if (S_ISCHR(info_a.st_mode) && S_ISCHR(info_b.st_mode)) {
        return info_a.st_rdev == info_b.st_rdev;
    }
    return info_a.st_dev == info_b.st_dev && info_a.st_ino == info_b.st_ino;
}

}  // namespace platform
