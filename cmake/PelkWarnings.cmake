# Warnings and sanitizer flags for the project's own targets (not for the JUCE library).
# PELK_WERROR turns the warnings into errors; CI sets it, local builds leave it off.

option(PELK_WERROR "Treat warnings in the project's own code as errors" OFF)

add_library(pelk_warnings INTERFACE)
# The framework's recommended set for GCC, less -Wswitch-enum (the switches that name some values and let a
# default take the rest do so on purpose) and less its -Wno-* relaxations.
target_compile_options(pelk_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wstrict-aliasing -Wuninitialized -Wunused-parameter -Wsign-compare
    -Wsign-conversion -Wunreachable-code -Wcast-align -Wredundant-decls
    $<$<COMPILE_LANGUAGE:CXX>:-Woverloaded-virtual -Wreorder -Wzero-as-null-pointer-constant>)
if(PELK_WERROR)
    target_compile_options(pelk_warnings INTERFACE -Werror)
endif()

if(PELK_SANITIZE STREQUAL "address")
    set(PELK_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(PELK_SANITIZE STREQUAL "thread")
    set(PELK_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT PELK_SANITIZE STREQUAL "")
    message(FATAL_ERROR "PELK_SANITIZE must be empty, address or thread")
endif()

if(PELK_SANITIZER_FLAGS)
    # Everything, JUCE included, is built with the sanitizer so that reports cover the whole process.
    add_compile_options(${PELK_SANITIZER_FLAGS})
    add_link_options(${PELK_SANITIZER_FLAGS})
endif()
