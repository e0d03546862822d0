# Configures and generates the macOS build on any machine, with no SDK and no linker: a source
# listed for macOS that is missing, a Linux-only library linked there, a wrong target or option
# stops here instead of on a Mac. It checks the build files, not the C++.
#   cmake -S . -B build-darwin-check -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/DarwinCheck.cmake
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 20.0)  # macOS 11, the oldest release the programs run on
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(CMAKE_OSX_ARCHITECTURES arm64)
set(CMAKE_OSX_DEPLOYMENT_TARGET 11.0)

# clang targets Apple's triples from any host, and compiles Objective-C++ for them; the compiler
# probes then need no SDK: they build a static library, which needs no linker.
find_program(WEXLA_CHECK_CLANG NAMES clang++ REQUIRED)
set(CMAKE_CXX_COMPILER ${WEXLA_CHECK_CLANG})
set(CMAKE_OBJCXX_COMPILER ${WEXLA_CHECK_CLANG})
set(CMAKE_CXX_COMPILER_TARGET arm64-apple-macos11)
set(CMAKE_OBJCXX_COMPILER_TARGET arm64-apple-macos11)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# CMake asks for Apple's tool before it enables Objective-C++; nothing is installed from this tree.
set(CMAKE_INSTALL_NAME_TOOL true)

# nlohmann_json is headers and CMake files only, so the host's own package is the one a Mac finds.
# GoogleTest is a compiled library, and the host's is not built for macOS: the tests link
# imported-target stubs from DarwinCheck/ instead, which name the same targets.
set(GTest_DIR ${CMAKE_CURRENT_LIST_DIR}/DarwinCheck)
