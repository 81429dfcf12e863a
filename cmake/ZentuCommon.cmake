# Flags shared by every target of the project, carried by one INTERFACE target.
option(ZENTU_WERROR "Treat warnings as errors" OFF)
option(ZENTU_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(ZENTU_TSAN "Build with ThreadSanitizer" OFF)
if(ZENTU_SANITIZE AND ZENTU_TSAN)
    message(FATAL_ERROR "ZENTU_SANITIZE and ZENTU_TSAN need separate build trees")
endif()

if(DEFINED ENV{CI} AND NOT ZENTU_WERROR)
    set(ZENTU_WERROR ON CACHE BOOL "Treat warnings as errors" FORCE)
endif()

find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
    set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

add_library(zentu_common INTERFACE)
target_compile_features(zentu_common INTERFACE cxx_std_17)
target_compile_options(zentu_common INTERFACE -Wall -Wextra)
target_compile_definitions(zentu_common INTERFACE
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_DEPRECATED_WARNINGS
    _GLIBCXX_ASSERTIONS)
if(ZENTU_WERROR)
    target_compile_options(zentu_common INTERFACE -Werror)
endif()
if(ZENTU_SANITIZE)
    # Undefined behaviour aborts instead of being reported and carried on,
    # so that a test run cannot pass over it.
    target_compile_options(zentu_common INTERFACE -fsanitize=address,undefined
        -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(zentu_common INTERFACE -fsanitize=address,undefined
        -fno-sanitize-recover=undefined)
endif()
if(ZENTU_TSAN)
    target_compile_options(zentu_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(zentu_common INTERFACE -fsanitize=thread)
endif()

# Product code: no implicit conversions from 8-bit strings to QString.
add_library(zentu_strict INTERFACE)
target_link_libraries(zentu_strict INTERFACE zentu_common)
target_compile_definitions(zentu_strict INTERFACE QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII)
