// A library with nothing in it but one function: the end-to-end tests read its file version (from
// versioned.rc when built as versioned.dll, none when built as unversioned.dll).

extern "C" __declspec(dllexport) int versioned_library_marker() {
    return 1;
}
