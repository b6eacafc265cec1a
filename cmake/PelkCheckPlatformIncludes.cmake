# Fails when a source under FOLDER includes a framework module other than juce_core (or the all-modules
# JuceHeader.h). Run by the build before pelk_platform compiles (platform/CMakeLists.txt): the framework is
# one build whose include path reaches every module, so the include lines are what holds the layer.
#   cmake -DFOLDER=<platform folder> -P PelkCheckPlatformIncludes.cmake

file(GLOB_RECURSE sources "${FOLDER}/*.h" "${FOLDER}/*.cpp")
set(reaching "")
foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
        if(line MATCHES "[<\"](juce_[A-Za-z0-9_]+)/" AND NOT CMAKE_MATCH_1 STREQUAL "juce_core")
            string(APPEND reaching "\n  ${source}: ${line}")
        elseif(line MATCHES "[<\"/]JuceHeader\\.h[>\"]")
            string(APPEND reaching "\n  ${source}: ${line}")
        endif()
    endforeach()
endforeach()
if(reaching)
    message(FATAL_ERROR "platform/ uses only juce_core of the framework; these lines reach further:${reaching}")
endif()
