// Linux stand-in for the Win32 calls of the module.
#include <dlfcn.h>
#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "host/module_instance.h"
#include "platform/platform.h"
#include "resources/string_table.h"

namespace platform {

namespace {

struct SystemText {
    uint32_t code;
    const char* text;
};

// The system's texts for the common error codes, with the line end the
// system's formatter appends.
constexpr SystemText kSystemTexts[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {7, "The storage control blocks were destroyed.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {9, "The storage control block address is invalid.\r\n"},
    {10, "The environment is incorrect.\r\n"},
    {11, "An attempt was made to load a program with an incorrect format.\r\n"},
    {12, "The access code is invalid.\r\n"},
    {13, "The data is invalid.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {15, "The system cannot find the drive specified.\r\n"},
    {19, "The media is write protected.\r\n"},
    {21, "The device is not ready.\r\n"},
    {23, "Data error (cyclic redundancy check).\r\n"},
    {29, "The system cannot write to the specified device.\r\n"},
    {30, "The system cannot read from the specified device.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {38, "Reached the end of the file.\r\n"},
    {39, "The disk is full.\r\n"},
    {50, "The request is not supported.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {120, "This function is not supported on this system.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
};

const char* FindSystemText(uint32_t code) {
    for (const SystemText& entry : kSystemTexts) {
        if (entry.code == code) return entry.text;
    }
    return nullptr;
}

// The stand-in for process attach: the module's instance is the base address
// of the loaded file, as on Windows.
__attribute__((constructor)) void AttachModule() {
    Dl_info info{};
    ModuleHandle self = dladdr(reinterpret_cast<void*>(&AttachModule), &info) != 0
                            ? info.dli_fbase
                            : reinterpret_cast<void*>(&AttachModule);
    zoka::ModuleAttach(self, zoka::kProcessAttach);
}

}  // namespace

int LoadResourceString(ModuleHandle instance, uint32_t id, char* buffer, int bufferMax) {
    if (instance == nullptr || buffer == nullptr || bufferMax <= 0) return 0;
    const char* text = zoka::FindString(id);
    if (text == nullptr) return 0;
    const size_t count = std::min(std::strlen(text), static_cast<size_t>(bufferMax - 1));
    std::memcpy(buffer, text, count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

char* AllocSystemMessage(uint32_t code) {
    const char* text = FindSystemText(code);
    if (text == nullptr) return nullptr;
    const size_t bytes = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(std::malloc(bytes));
    if (copy != nullptr) std::memcpy(copy, text, bytes);
    return copy;
}

void FreeSystemMessage(char* text) { std::free(text); }

namespace {

void* RunThread(void* record) {
    auto& thread = *static_cast<Thread*>(record);
    thread.entry(thread.argument);
    return nullptr;
}

}  // namespace

bool StartThread(Thread& thread) {
    pthread_t id;
    if (pthread_create(&id, nullptr, RunThread, &thread) != 0) return false;
    thread.handle = static_cast<uintptr_t>(id);
    return true;
}

void JoinThread(Thread& thread) { pthread_join(static_cast<pthread_t>(thread.handle), nullptr); }

}  // namespace platform
