// The program's exports, read from the dynamic symbol table of the program as built: every
// function of win32.hpp's extern "C" block, and nothing else of the program's own.

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>

#include "text.hpp"

namespace {

using testsupport::split;

// The standard output of a shell command.
std::string output_of(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            text.append(chunk, n);
        }
        pclose(pipe);
    }
    return text;
}

// The function names the extern "C" block of the header declares: in each declaration, the
// first name followed by '(' (the header's comments left out).
std::set<std::string> declared_functions(const std::string& header) {
    const std::string text = testsupport::read_file(header);
    const size_t begin = text.find("extern \"C\" {");
    const size_t end = text.find("}  // extern \"C\"");
    std::set<std::string> names;
    if (begin == std::string::npos || end == std::string::npos) {
        return names;
    }
    const std::string block =
        std::regex_replace(text.substr(begin, end - begin), std::regex("//[^\n]*"), "");
    const std::regex function_name("([A-Za-z_][A-Za-z0-9_]*)\\s*\\(");
    for (const std::string& declaration : split(block.substr(block.find('{') + 1), ';')) {
        std::smatch match;
        if (std::regex_search(declaration, match, function_name)) {
            names.insert(match[1]);
        }
    }
    return names;
}

// The names a file defines in its dynamic symbol table, without their version.
std::set<std::string> defined_dynamic_symbols(const std::string& file) {
    std::set<std::string> names;
    for (const std::string& line :
         split(output_of("nm -D --defined-only '" + file + "' 2>/dev/null"), '\n')) {
        const std::string name = line.substr(line.rfind(' ') + 1);
        names.insert(name.substr(0, name.find('@')));
    }
    return names;
}

// What the shared libraries the program loads define.
std::set<std::string> defined_by_libraries(const std::string& program) {
    std::set<std::string> names;
    const std::regex library_path("(/[^ ]+) \\(0x");
    for (const std::string& line : split(output_of("ldd '" + program + "'"), '\n')) {
        std::smatch match;
        if (std::regex_search(line, match, library_path)) {
            names.merge(defined_dynamic_symbols(match[1]));
        }
    }
    return names;
}

TEST(Exports, TheProgramExportsTheWin32FunctionsAndNothingElseOfItsOwn) {
    const std::set<std::string> declared = declared_functions(WIN32_HEADER);
    ASSERT_TRUE(declared.count("CreateFileA") == 1 && declared.count("VerQueryValueA") == 1)
        << "the declarations of " << WIN32_HEADER << " were not found";
    const std::set<std::string> exported = defined_dynamic_symbols(MORVANE_PROGRAM);
    for (const std::string& name : declared) {
        EXPECT_EQ(exported.count(name), 1u)
            << name << " is declared in win32.hpp but not exported by " << MORVANE_PROGRAM
            << " (src/platform/posix/exports.list)";
    }
    // Besides, the linker exports what a shared library the program loads also defines (data
    // copied into the program, such as stdout; template code the C++ runtime has too), so that
    // both use one copy. Anything else would be the program's own.
    const std::set<std::string> libraries = defined_by_libraries(MORVANE_PROGRAM);
    ASSERT_EQ(libraries.count("malloc"), 1u) << "the program's libraries were not found";
    for (const std::string& name : exported) {
        EXPECT_TRUE(declared.count(name) == 1 || libraries.count(name) == 1)
            << name << " is exported by " << MORVANE_PROGRAM << " but not declared in win32.hpp";
    }
}

}  // namespace
