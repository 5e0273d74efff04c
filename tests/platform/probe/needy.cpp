// A library that needs a name no program provides: loading it must fail as a whole.

extern "C" int probe_missing_function();

extern "C" int needy_answer() {
    return probe_missing_function();
}
