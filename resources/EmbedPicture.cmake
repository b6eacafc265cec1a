# Writes one C++ source file that defines ORVBIN::<NAME> (the bytes of INPUT) and ORVBIN::<NAME>Size.
# Run as: cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DNAME=<identifier> -P EmbedPicture.cmake

if(NOT INPUT OR NOT OUTPUT OR NOT NAME)
    message(FATAL_ERROR "EmbedPicture.cmake needs INPUT, OUTPUT and NAME")
endif()

get_filename_component(file_name "${INPUT}" NAME)
file(SIZE "${INPUT}" size)
file(READ "${INPUT}" hex HEX)
# Sixteen bytes a line, each written as 0xNN.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
set(sixteen "")
foreach(i RANGE 15)
    string(APPEND sixteen "0x..,")
endforeach()
string(REGEX REPLACE "(${sixteen})" "\\1\n    " bytes "${bytes}")

file(WRITE "${OUTPUT}"
"// Generated from ${file_name} by EmbedPicture.cmake; do not edit.
#include \"BinaryData.h\"

namespace ORVBIN
{
extern const unsigned char ${NAME}[] = {
    ${bytes}
};
extern const int ${NAME}Size = ${size};
} // namespace ORVBIN
")
