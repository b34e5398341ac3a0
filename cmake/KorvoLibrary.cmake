# korvo_library(<name> [FOLDERS <folder>...] [PROGRAM <program>]): the static library korvo_<name>,
# made of the *.cpp and *.h of the calling folder and of each folder named after FOLDERS (relative
# to it), and of nothing else. Every library of the build is listed this way: a source file
# belongs to the library of the folder it lies in, and a new file needs no line of CMake. The
# folder's main.cpp is never part of the library: it is the entry of the executable named after
# PROGRAM, which links the library. Sources that the build generates are added to the library
# with target_sources().
function(korvo_library name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "PROGRAM" "FOLDERS")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "korvo_library(${name}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    set(_folders "${CMAKE_CURRENT_SOURCE_DIR}")
    foreach(folder ${arg_FOLDERS})
        list(APPEND _folders "${CMAKE_CURRENT_SOURCE_DIR}/${folder}")
    endforeach()
    set(_sources)
    foreach(folder ${_folders})
        file(GLOB _found CONFIGURE_DEPENDS "${folder}/*.cpp" "${folder}/*.h")
        list(APPEND _sources ${_found})
    endforeach()
    list(REMOVE_ITEM _sources "${CMAKE_CURRENT_SOURCE_DIR}/main.cpp")
    add_library(korvo_${name} STATIC ${_sources})
    target_include_directories(korvo_${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
    if(arg_PROGRAM)
        add_executable(${arg_PROGRAM} main.cpp)
        target_link_libraries(${arg_PROGRAM} PRIVATE korvo_${name})
    elseif(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/main.cpp")
        message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/main.cpp: name its program with "
            "korvo_library(${name} PROGRAM <program>)")
    endif()
endfunction()
