# The 32-bit x86 Linux target: the host records have the product's byte
# offsets here. Programs are static and run under qemu-i386, since these
# machines' kernels run no 32-bit programs. The emulated processor has SSE4.2
# but no AVX: QEMU 7.2 computes some AVX2 gathers wrongly.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -cpu Nehalem)
