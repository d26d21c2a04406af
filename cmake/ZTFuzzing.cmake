# Settings of a fuzzing build (ZTROI_BUILD_FUZZERS): when the compiler can build libFuzzer
# targets, every target of the build is compiled with AddressSanitizer, UndefinedBehaviorSanitizer
# and libFuzzer's coverage instrumentation, so that the fuzzers see into the library; the fuzz
# targets in fuzz/ add libFuzzer's main. Sets ZTROI_FUZZING to whether that is the case.
include(CheckCXXSourceCompiles)

set(CMAKE_REQUIRED_FLAGS -fsanitize=fuzzer)
set(CMAKE_REQUIRED_LINK_OPTIONS -fsanitize=fuzzer)
check_cxx_source_compiles([[
#include <cstddef>
#include <cstdint>
extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }
]] ZTROI_COMPILER_HAS_LIBFUZZER)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)

if(ZTROI_COMPILER_HAS_LIBFUZZER)
    set(ZTROI_FUZZING ON)
    # Comparisons are not traced: the targets' inputs name the edge values of every setting
    # directly, and tracing the comparisons in the pixel loops would halve the fuzzing speed.
    add_compile_options(-fsanitize=address,undefined,fuzzer-no-link
        -fno-sanitize-coverage=trace-cmp -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
else()
    set(ZTROI_FUZZING OFF)
    message(WARNING "${CMAKE_CXX_COMPILER} cannot build libFuzzer targets (-fsanitize=fuzzer): "
        "no fuzzers are built. Configure a build folder with -DCMAKE_CXX_COMPILER=clang++.")
endif()
