// nowglow-backtrace.exe: prints where every thread of a running program
// stands, one backtrace a thread, each frame as module!function+offset, for
// a test that hangs. It suspends each thread in turn and walks its stack
// from this process, so no debugger attaches (Wine's cannot attach where
// ptrace is restricted), and lets the thread run again. A frame is named
// from its module's own file: the COFF symbol table of an unstripped
// MinGW build (the tests' copy of the plug-in), else the export table.
// Usage: nowglow-backtrace PID|PROGRAM.EXE...
#include <windows.h>

#include <cxxabi.h>
#include <dbghelp.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

// More frames than any honest stack of the tests has.
static const int DeepestFrame = 48;
// No module the tests load comes near this size.
static const DWORD LargestModuleFile = 256u * 1024u * 1024u;

#if defined(__x86_64__)
static const DWORD Machine = IMAGE_FILE_MACHINE_AMD64;
#else
static const DWORD Machine = IMAGE_FILE_MACHINE_I386;
#endif

struct Symbol {
    DWORD rva;
    std::string name;
};

// A module of the walked process, its names read from its file once.
struct Module {
    DWORD64 base;
    DWORD size;
    std::string name;
    std::wstring path;
    bool read;
    std::vector<Symbol> symbols;  // sorted by address
};

static std::vector<Module> modules;

static uint32_t Read32(const std::vector<uint8_t>& file, size_t at) {
    if (at + 4 > file.size()) return 0;
    return static_cast<uint32_t>(file[at]) | static_cast<uint32_t>(file[at + 1]) << 8 |
           static_cast<uint32_t>(file[at + 2]) << 16 | static_cast<uint32_t>(file[at + 3]) << 24;
}

static uint16_t Read16(const std::vector<uint8_t>& file, size_t at) {
    if (at + 2 > file.size()) return 0;
    return static_cast<uint16_t>(file[at] | file[at + 1] << 8);
}

static std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) != FALSE && size.QuadPart > 0 && size.QuadPart < LargestModuleFile) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) == FALSE ||
            got != bytes.size())
            bytes.clear();
    }
    CloseHandle(file);
    return bytes;
}

// A text of the file that ends at a zero within it, or "".
static std::string TextAt(const std::vector<uint8_t>& file, size_t at, size_t most) {
    std::string text;
    for (size_t i = at; i < file.size() && i < at + most && file[i] != 0; i++)
        text += static_cast<char>(file[i]);
    return text;
}

// The name a reader knows: C++ names demangled, i386's leading underscore
// and stdcall's @N dropped.
static std::string Readable(std::string name) {
    if (Machine == IMAGE_FILE_MACHINE_I386 && !name.empty() && name[0] == '_') name.erase(0, 1);
    const size_t at = name.rfind('@');
    if (at != std::string::npos && at > 0 &&
        name.find_first_not_of("0123456789", at + 1) == std::string::npos)
        name.erase(at);
    int status = 0;
    char* plain = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    if (status == 0 && plain != nullptr) name = plain;
    std::free(plain);
    return name;
}

struct Section {
    uint32_t address;
    uint32_t size;
    uint32_t raw;
};

// The file offset of an address of the image, or 0.
static size_t FileOffset(const std::vector<Section>& sections, uint32_t rva) {
    for (const Section& section : sections) {
        if (rva >= section.address && rva < section.address + section.size)
            return section.raw + (rva - section.address);
    }
    return 0;
}

// The functions of the COFF symbol table, which an unstripped MinGW build keeps.
static void ReadCoffSymbols(const std::vector<uint8_t>& file, size_t fileHeader,
                            const std::vector<Section>& sections, std::vector<Symbol>* symbols) {
    const uint32_t table = Read32(file, fileHeader + 8);
    const uint32_t count = Read32(file, fileHeader + 12);
    if (table == 0 || count == 0 || table + static_cast<uint64_t>(count) * 18 > file.size()) return;
    const size_t strings = table + static_cast<size_t>(count) * 18;
    for (uint32_t i = 0; i < count; i++) {
        const size_t entry = table + static_cast<size_t>(i) * 18;
        const uint16_t section = Read16(file, entry + 12);
        const uint16_t type = Read16(file, entry + 14);
        const uint8_t storage = file[entry + 16];
        const uint8_t auxiliaries = file[entry + 17];
        const bool function = (type & 0x30) == 0x20;
        if (section > 0 && section <= sections.size() && function && (storage == 2 || storage == 3)) {
            const std::string name = Read32(file, entry) == 0
                                         ? TextAt(file, strings + Read32(file, entry + 4), 512)
                                         : TextAt(file, entry, 8);
            symbols->push_back({sections[section - 1].address + Read32(file, entry + 8), Readable(name)});
        }
        i += auxiliaries;
    }
}

// The names of the export table, which every system DLL has.
static void ReadExports(const std::vector<uint8_t>& file, size_t optional, bool wide,
                        const std::vector<Section>& sections, std::vector<Symbol>* symbols) {
    const size_t directory = FileOffset(sections, Read32(file, optional + (wide ? 112 : 96)));
    if (directory == 0) return;
    const uint32_t names = Read32(file, directory + 24);
    const size_t functions = FileOffset(sections, Read32(file, directory + 28));
    const size_t nameTable = FileOffset(sections, Read32(file, directory + 32));
    const size_t ordinals = FileOffset(sections, Read32(file, directory + 36));
    if (functions == 0 || nameTable == 0 || ordinals == 0) return;
    for (uint32_t i = 0; i < names && i < 65536; i++) {
        const size_t name = FileOffset(sections, Read32(file, nameTable + 4 * static_cast<size_t>(i)));
        const uint16_t ordinal = Read16(file, ordinals + 2 * static_cast<size_t>(i));
        const uint32_t rva = Read32(file, functions + 4 * static_cast<size_t>(ordinal));
        if (name != 0 && rva != 0) symbols->push_back({rva, TextAt(file, name, 256)});
    }
}

static void ReadNames(Module* module) {
    module->read = true;
    const std::vector<uint8_t> file = ReadFileBytes(module->path);
    const size_t fileHeader = Read32(file, 0x3C) + 4;
    if (file.size() < 0x40 || fileHeader + 20 > file.size()) return;
    const size_t optional = fileHeader + 20;
    const bool wide = Read16(file, optional) == 0x020B;
    const size_t table = optional + Read16(file, fileHeader + 16);
    std::vector<Section> sections;
    for (uint16_t i = 0; i < Read16(file, fileHeader + 2) && i < 96; i++) {
        const size_t header = table + static_cast<size_t>(i) * 40;
        sections.push_back({Read32(file, header + 12),
                            std::max(Read32(file, header + 8), Read32(file, header + 16)),
                            Read32(file, header + 20)});
    }
    ReadCoffSymbols(file, fileHeader, sections, &module->symbols);
    if (module->symbols.empty()) ReadExports(file, optional, wide, sections, &module->symbols);
    std::sort(module->symbols.begin(), module->symbols.end(),
              [](const Symbol& a, const Symbol& b) { return a.rva < b.rva; });
}

static void ListModules(DWORD processId) {
    modules.clear();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, processId);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    MODULEENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot, &entry); more != FALSE;
         more = Module32NextW(snapshot, &entry)) {
        char name[MAX_MODULE_NAME32 + 1];
        WideCharToMultiByte(CP_UTF8, 0, entry.szModule, -1, name, sizeof name, nullptr, nullptr);
        modules.push_back({reinterpret_cast<uintptr_t>(entry.modBaseAddr),
                           entry.modBaseSize,
                           name,
                           entry.szExePath,
                           false,
                           {}});
    }
    CloseHandle(snapshot);
}

// The frame's address as module!function+offset, or as much as is known.
static void SayFrame(int number, DWORD64 address) {
    for (Module& module : modules) {
        if (address < module.base || address >= module.base + module.size) continue;
        if (!module.read) ReadNames(&module);
        const DWORD rva = static_cast<DWORD>(address - module.base);
        auto after = std::upper_bound(module.symbols.begin(), module.symbols.end(), rva,
                                      [](DWORD value, const Symbol& symbol) { return value < symbol.rva; });
        if (after == module.symbols.begin()) {
            std::printf("  #%-2d %#010llx %s+%#lx\n", number, static_cast<unsigned long long>(address),
                        module.name.c_str(), static_cast<unsigned long>(rva));
        } else {
            const Symbol& symbol = *(after - 1);
            std::printf("  #%-2d %#010llx %s!%s+%#lx\n", number, static_cast<unsigned long long>(address),
                        module.name.c_str(), symbol.name.c_str(),
                        static_cast<unsigned long>(rva - symbol.rva));
        }
        return;
    }
    std::printf("  #%-2d %#010llx\n", number, static_cast<unsigned long long>(address));
}

static void WalkThread(HANDLE process, DWORD threadId) {
    HANDLE thread =
        OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, threadId);
    std::printf("thread %#lx:\n", static_cast<unsigned long>(threadId));
    if (thread == nullptr || SuspendThread(thread) == static_cast<DWORD>(-1)) {
        std::printf("  cannot be stopped to be read (error %lu)\n",
                    static_cast<unsigned long>(GetLastError()));
        if (thread != nullptr) CloseHandle(thread);
        return;
    }
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_FULL;
    if (GetThreadContext(thread, &context) != FALSE) {
        STACKFRAME64 frame = {};
#if defined(__x86_64__)
        frame.AddrPC.Offset = context.Rip;
        frame.AddrFrame.Offset = context.Rbp;
        frame.AddrStack.Offset = context.Rsp;
#else
        frame.AddrPC.Offset = context.Eip;
        frame.AddrFrame.Offset = context.Ebp;
        frame.AddrStack.Offset = context.Esp;
#endif
        frame.AddrPC.Mode = AddrModeFlat;
        frame.AddrFrame.Mode = AddrModeFlat;
        frame.AddrStack.Mode = AddrModeFlat;
        for (int number = 0; number < DeepestFrame; number++) {
            if (StackWalk64(Machine, process, thread, &frame, &context, nullptr, SymFunctionTableAccess64,
                            SymGetModuleBase64, nullptr) == FALSE ||
                frame.AddrPC.Offset == 0)
                break;
            SayFrame(number, frame.AddrPC.Offset);
        }
    } else {
        std::printf("  its registers cannot be read (error %lu)\n",
                    static_cast<unsigned long>(GetLastError()));
    }
    ResumeThread(thread);
    CloseHandle(thread);
}

static void WalkProcess(DWORD processId, const wchar_t* name) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) {
        std::printf("nowglow-backtrace: cannot open process %lu (error %lu)\n",
                    static_cast<unsigned long>(processId), static_cast<unsigned long>(GetLastError()));
        return;
    }
    std::printf("== where each thread of %ls (process %lu) stands\n", name,
                static_cast<unsigned long>(processId));
    ListModules(processId);
    SymInitialize(process, nullptr, TRUE);
    HANDLE threads = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(threads, &entry); more != FALSE; more = Thread32Next(threads, &entry)) {
        if (entry.th32OwnerProcessID == processId) WalkThread(process, entry.th32ThreadID);
    }
    CloseHandle(threads);
    SymCleanup(process);
    CloseHandle(process);
    std::fflush(stdout);
}

static bool SameName(const wchar_t* a, const wchar_t* b) {
    for (; *a != L'\0' && *b != L'\0'; a++, b++) {
        if (std::towlower(*a) != std::towlower(*b)) return false;
    }
    return *a == *b;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: nowglow-backtrace PID|PROGRAM.EXE...\n", stderr);
        return 2;
    }
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    int found = 0;
    for (BOOL more = Process32FirstW(processes, &entry); more != FALSE;
         more = Process32NextW(processes, &entry)) {
        for (int i = 1; i < argc; i++) {
            wchar_t* end = nullptr;
            const unsigned long pid = std::wcstoul(argv[i], &end, 0);
            if ((*end == L'\0' && pid == entry.th32ProcessID) || SameName(argv[i], entry.szExeFile)) {
                WalkProcess(entry.th32ProcessID, entry.szExeFile);
                found++;
            }
        }
    }
    if (found == 0) {
        // What does run, to tell a program gone from one never named right.
        std::printf("nowglow-backtrace: no such program runs; these do:\n");
        for (BOOL more = Process32FirstW(processes, &entry); more != FALSE;
             more = Process32NextW(processes, &entry))
            std::printf("  %lu %ls\n", static_cast<unsigned long>(entry.th32ProcessID), entry.szExeFile);
    }
    CloseHandle(processes);
    return found == 0 ? 1 : 0;
}
