// Reads an INI file back through the real Win32 private-profile functions
// and through our own INI layer, for the Windows end-to-end check:
//
//   ini_readback win32 FILE SECTION...   GetPrivateProfileStringA
//   ini_readback ours FILE SECTION...    the INI store's accessor, TIniFile
//   ini_readback write FILE              writes awkward values with TIniFile
//   ini_readback hold FILE PROGRAM ARG...
//                                        runs the program while FILE is held
//                                        open as many programs hold their INI
//                                        files (reading and writing shared,
//                                        deleting not); exits with its code
//
// Both readers print every key of each section, in file order, as
// "[SECTION] key=value" with the value in full; the two listings of one file
// must be identical. Texts are written as the ANSI bytes they are.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "stores/ini_file.h"

namespace {

// Large enough that no value of our files is cut: the Win32 functions
// would otherwise return size - 1 characters without telling.
constexpr DWORD kBuffer = 1 << 16;

void print(const std::string& section, const std::string& key, const std::string& value) {
    const std::string line = "[" + section + "] " + key + "=" + value + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
}

void dump_win32(const std::string& file, const std::string& section) {
    std::vector<char> names(kBuffer);
    const DWORD length =
        GetPrivateProfileStringA(section.c_str(), nullptr, nullptr, names.data(), kBuffer, file.c_str());
    if (length >= kBuffer - 2) throw Exception("too many keys in [" + section + "] of " + file);
    std::vector<char> value(kBuffer);
    for (const char* name = names.data(); *name != '\0'; name += std::strlen(name) + 1) {
        const DWORD n = GetPrivateProfileStringA(section.c_str(), name, "", value.data(), kBuffer, file.c_str());
        if (n >= kBuffer - 1) throw Exception("value too long in [" + section + "] of " + file);
        print(section, name, std::string(value.data(), n));
    }
}

void dump_ours(const std::string& file, const std::string& section) {
    TIniFile ini(file);
    std::vector<std::string> keys;
    ini.ReadSection(section, keys);
    for (const std::string& key : keys) print(section, key, ini.ReadString(section, key, ""));
}

// Values whose writing is not plain "key=value": blanks at the ends, quotes,
// characters that mean something at the start of a line, Cyrillic, and a
// value longer than the store's 1024-byte read buffer.
void write_awkward(const std::string& file) {
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"PLAIN", "value"},
        {"EMPTY", ""},
        {"LEADING", "  two blanks before"},
        {"TRAILING", "two blanks after  "},
        {"TAB", "\tx\t"},
        {"QUOTED", "\"in quotes\""},
        {"SINGLE", "'in single quotes'"},
        {"HALF", "\"half"},
        {"INNER", "a\"b\"c"},
        {"SEMICOLON", ";not a comment"},
        {"HASH", "#x"},
        {"EQUALS", "=a=b="},
        {"BRACKET", "[not a section]"},
        {"BACKSLASH", "..\\DATA\\AB.DAT"},
        {"\xCA\xCB\xDE\xD7", "\xC7\xED\xE0\xF7\xE5\xED\xE8\xE5 \xB8\xE6"},  // КЛЮЧ = "Значение ёж"
        {"KEY WITH BLANKS", "x"},
        {"LONG", std::string(3000, 'L')},
    };
    TIniFile ini(file);
    for (const auto& [key, value] : entries) ini.WriteString("AWKWARD", key, value);
    ini.UpdateFile();
}

// Runs the command line while the file is held open; the program's exit code.
int hold(const std::string& file, int argc, char* argv[]) {
    const HANDLE held = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) throw Exception("cannot hold " + file);
    std::string command;
    for (int i = 0; i < argc; ++i) command += (i > 0 ? " \"" : "\"") + std::string(argv[i]) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    DWORD code = 1;
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(held);
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char* argv[]) {
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "write" && argc == 3) {
            write_awkward(argv[2]);
            return 0;
        }
        if (mode == "hold" && argc >= 4) return hold(argv[2], argc - 3, argv + 3);
        if ((mode == "win32" || mode == "ours") && argc >= 4) {
            for (int i = 3; i < argc; ++i) {
                if (mode == "win32")
                    dump_win32(argv[2], argv[i]);
                else
                    dump_ours(argv[2], argv[i]);
            }
            return 0;
        }
        std::fputs("usage: ini_readback win32|ours FILE SECTION... | ini_readback write FILE |"
                   " ini_readback hold FILE PROGRAM ARG...\n", stderr);
        return 2;
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.Message().c_str());
        return 1;
    }
}
