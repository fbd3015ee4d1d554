# Flags shared by every target, and the module's own.
#
# The arithmetic is specified to the last bit: no fast math, no fused
# multiply-add, and SSE2 rather than x87 on 32-bit x86, so every build gives
# the same pixels.
add_compile_options(-ffp-contract=off -fno-fast-math)
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "i.86|x86|AMD64|x86_64")
    add_compile_options(-msse2 -mfpmath=sse)
endif()

add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wcast-align -Wformat=2)
if(ZOKA_WERROR)
    add_compile_options(-Werror)
endif()

if(ZOKA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
    # The sanitizers' reports need the line tables, not where each variable
    # lives at every instruction: GCC's tracking of those took a quarter of
    # this build's compile time.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        add_compile_options(-fno-var-tracking)
    endif()
endif()

if(ZOKA_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

if(ZOKA_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "The fuzz targets need clang (the fuzz preset sets it)")
    endif()
    # Every object carries the fuzzer's coverage; any undefined behaviour
    # (float-to-integer overflow included) aborts.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined,float-cast-overflow
                        -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# The module: only the exports are visible, and no error escapes it as an
# exception.
add_library(zoka_module_flags INTERFACE)
target_compile_options(zoka_module_flags INTERFACE
    -fvisibility=hidden -fvisibility-inlines-hidden
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)
