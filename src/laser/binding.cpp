#include "laser/binding.hpp"

#include <cstring>

#include "laser/hsif_api.hpp"

namespace laser {

HsifApi hsif_api;

namespace {

constexpr char kLibraryName[] = "hsif";

// GetProcAddress gives a generic function address; the slot has the entry point's own type. The
// bits are copied, so no cast between function types is needed.
template <typename Slot, typename Address>
Slot as_entry_point(Address address) {
    static_assert(sizeof(Slot) == sizeof(Address));
    Slot slot;
    std::memcpy(&slot, &address, sizeof slot);
    return slot;
}

}  // namespace

HMODULE load_hsif_library() {
    HMODULE library = LoadLibraryExA(kLibraryName, HANDLE{}, 0);
    if (library == nullptr) {
        return nullptr;
    }

    // Every name is looked up, also after one is missing, so the table never keeps an address
    // from an earlier binding.
    bool complete = true;
#define HSIF_LOOK_UP(name, params)                                            \
    hsif_api.name = as_entry_point<name##Fn>(GetProcAddress(library, #name)); \
    complete = complete && hsif_api.name != nullptr;
    HSIF_ENTRY_POINTS(HSIF_LOOK_UP)
#undef HSIF_LOOK_UP

    if (!complete) {
        FreeLibrary(library);
        return nullptr;
    }
    return library;
}

const char* hsif_library_name() {
    return kLibraryName;
}

BOOL free_hsif_library(HMODULE library) {
    return FreeLibrary(library);
}

}  // namespace laser
