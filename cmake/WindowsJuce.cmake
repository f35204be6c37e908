# JUCE for the MinGW-w64 cross-build: Debian's JUCE package used as sources, plus the
# image libraries that Debian's JUCE leaves to the system (zlib for MinGW, and libpng and
# libjpeg-turbo built by scripts/windows-image-libs.sh into KRV_WINDOWS_PREFIX).
set(KRV_WINDOWS_PREFIX "" CACHE PATH "Prefix holding static libpng and libjpeg for Windows")
if(NOT JUCE_DIR)
    set(JUCE_DIR "/usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5" CACHE PATH "Debian's JUCE CMake package")
endif()

# The package's version file accepts only a 64-bit consumer; JUCE is used as sources and
# through the host's juceaide, so a 32-bit build borrows that answer for the look-up only.
set(krv_pointer_size ${CMAKE_SIZEOF_VOID_P})
set(CMAKE_SIZEOF_VOID_P 8)
find_package(JUCE 7.0.5 EXACT CONFIG REQUIRED)
set(CMAKE_SIZEOF_VOID_P ${krv_pointer_size})

set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
find_library(KRV_PNG_LIBRARY NAMES png16 png PATHS "${KRV_WINDOWS_PREFIX}/lib"
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_library(KRV_JPEG_LIBRARY NAMES jpeg PATHS "${KRV_WINDOWS_PREFIX}/lib"
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)

add_library(krv_windows_image_libs INTERFACE)
# The shims come first: they wrap two MinGW headers for JUCE's sake.
target_include_directories(krv_windows_image_libs SYSTEM INTERFACE
    "${CMAKE_CURRENT_LIST_DIR}/mingw-shims" "${KRV_WINDOWS_PREFIX}/include")
target_link_libraries(krv_windows_image_libs INTERFACE "${KRV_PNG_LIBRARY}" "${KRV_JPEG_LIBRARY}" ZLIB::ZLIB)

function(krv_adapt_juce_for_mingw target)
    target_link_libraries(${target} PRIVATE krv_windows_image_libs)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        # JUCE's module files that use COM are compiled through a wrapper that makes their
        # interface ids MinGW's (see mingw32-juce/ComIds.h); juce_core's own file refuses
        # any header before it and keeps JUCE's ids.
        foreach(module juce_events juce_graphics juce_gui_basics)
            set(original "${JUCE_MODULES_DIR}/${module}/${module}.cpp")
            set(wrapper "${CMAKE_BINARY_DIR}/mingw32-juce/${module}.cpp")
            file(WRITE "${wrapper}.in" "#include \"${CMAKE_CURRENT_FUNCTION_LIST_DIR}/mingw32-juce/ComIds.h\"\n#include \"${original}\"\n")
            configure_file("${wrapper}.in" "${wrapper}" COPYONLY)
            set_source_files_properties("${original}" TARGET_DIRECTORY ${target} PROPERTIES HEADER_FILE_ONLY ON)
            target_sources(${target} PRIVATE "${wrapper}")
        endforeach()
    endif()
endfunction()
