# The tests of the Windows build: the unit test runner, cross-built like the product, and
# the real executable in a private Xvfb, both run under Wine (label windows), each bitness
# in its own prefix.

# GoogleTest from Debian's sources (libgtest-dev), built with the cross toolchain.
set(KRV_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory("${KRV_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)

# Test files about Linux-only pieces: single-stepping a thread, fontconfig fonts, the POSIX
# locale, the simulator loaded through dlopen (the fault matrix and krv-update's table too),
# and the parsers' tests over bytes before a guard page (mmap), and the soak, which reads
# the process's use from /proc. The parsers are the same code on both systems; krv-update
# runs under Wine as a process test.
set(KRV_LINUX_ONLY_TEST_FILES
    CommandLineUpdaterTests.cpp
    HidCtrlHandOverTests.cpp
    FontCoverageTests.cpp
    TextLanguageTests.cpp
    DeviceSimulatorTests.cpp
    FaultInjectionMatrixTests.cpp
    FaultSoakTests.cpp
    ImageLoaderTests.cpp
    TextTableTests.cpp
    UpdateFileTests.cpp
    UpdateFileReportTests.cpp)

file(GLOB KRV_UNIT_TEST_SOURCES CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/unit/*.cpp")
foreach(name ${KRV_LINUX_ONLY_TEST_FILES})
    list(FILTER KRV_UNIT_TEST_SOURCES EXCLUDE REGEX ".*/unit/${name}$")
endforeach()

add_executable(krv_unit_tests ${KRV_UNIT_TEST_SOURCES})
# The device library's own logic (its queue, its removal path) is the same on both systems.
target_link_libraries(krv_unit_tests PRIVATE krv_core fwbridge_hid_core gtest gmock)
target_include_directories(krv_unit_tests PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/support"
                                                  "${CMAKE_CURRENT_SOURCE_DIR}/support/windows"
                                                  "${PROJECT_SOURCE_DIR}/tools/tour")
krv_strict_warnings(krv_unit_tests)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # The interface ids are checked as JUCE's own files see them.
    set_source_files_properties(unit/ComInterfaceIdTests.cpp PROPERTIES
        COMPILE_OPTIONS "-include;${PROJECT_SOURCE_DIR}/cmake/mingw32-juce/ComIds.h")
endif()

# Device libraries loaded at run time: a library lacking HID_Write, and ones that export
# their functions only under other names: decorated __stdcall as MinGW and as MSVC write
# them, and __cdecl with a leading underscore.
add_library(fwbridge_partial SHARED support/PartialBridge.c)
krv_fwbridge_dll(fwbridge_partial)
set_target_properties(fwbridge_partial PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests/partial")
foreach(kind decorated msvc-decorated cdecl-decorated)
    if(kind STREQUAL decorated)
        set(def support/MisnamedBridge.def)
    elseif(kind STREQUAL msvc-decorated)
        set(def support/MsvcDecoratedBridge.def)
    else()
        set(def support/CdeclDecoratedBridge.def)
    endif()
    add_library(fwbridge_${kind} SHARED support/MisnamedBridge.c ${def})
    set_target_properties(fwbridge_${kind} PROPERTIES
        PREFIX "" OUTPUT_NAME fwbridge RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests/${kind}")
    add_dependencies(krv_unit_tests fwbridge_${kind})
endforeach()
add_dependencies(krv_unit_tests fwbridge_sim fwbridge_sim_cdecl fwbridge_partial)

# Sends a window the end-of-session messages, as Windows does at log-off and shutdown.
add_executable(krv-end-session support/windows/EndSession.c)

# Wine sees this machine's files on drive Z:.
target_compile_definitions(krv_unit_tests PRIVATE
    KRV_SOURCE_DIR="Z:${PROJECT_SOURCE_DIR}"
    KRV_SIM_LIBRARY="Z:$<TARGET_FILE:fwbridge_sim>"
    KRV_SIM_CDECL_LIBRARY="Z:$<TARGET_FILE:fwbridge_sim_cdecl>"
    KRV_PARTIAL_LIBRARY="Z:$<TARGET_FILE:fwbridge_partial>"
    KRV_DECORATED_LIBRARY="Z:$<TARGET_FILE:fwbridge_decorated>"
    KRV_MSVC_DECORATED_LIBRARY="Z:$<TARGET_FILE:fwbridge_msvc-decorated>"
    KRV_CDECL_DECORATED_LIBRARY="Z:$<TARGET_FILE:fwbridge_cdecl-decorated>")

# Tests of the remaining files that rest on Linux-only pieces, left out by name: the
# window-message and debug-output stand-ins themselves, the library path that only
# Linux searches, and the advice about the udev rule for a node that cannot be opened.
set(KRV_TESTS_LEFT_OUT_ON_WINDOWS
    HidrawBridge.DeviceThatCannotBeOpenedIsNamedWithTheReasonAndOfferedOnceItCan
    DeviceLibraryLoad.LooksBesideTheExecutableThenOnTheLibraryPath
    HiddenWindow.*
    PlatformWindows.*
    PlatformDebugOutput.*)

find_package(Python3 COMPONENTS Interpreter)

# The manifest, icon and VERSIONINFO in the built executables (read on this machine).
add_test(NAME windows.resources
    COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_SOURCE_DIR}/tools/windows_resources.py" "${PROJECT_VERSION}"
        "$<TARGET_FILE:KRVUpdateProgram>:icon" "$<TARGET_FILE:krv-update>")
set_tests_properties(windows.resources PROPERTIES LABELS windows TIMEOUT 60)

if(KRV_WINE_BIN_DIR)
    set(KRV_WINE "${KRV_WINE_BIN_DIR}/wine")
else()
    find_program(KRV_WINE NAMES wine)
endif()
if(NOT KRV_WINE)
    return()
endif()

# One Wine prefix for the build, made once (about 15 s).
set(KRV_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine-prefix")
add_test(NAME windows.wine-prefix
    COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${KRV_WINE_PREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
            ${Python3_EXECUTABLE} "${CMAKE_CURRENT_SOURCE_DIR}/process/wine_prefix.py" "${KRV_WINE_PREFIX}")
set_tests_properties(windows.wine-prefix PROPERTIES FIXTURES_SETUP wine_prefix LABELS windows TIMEOUT 180)

# Wine needs an X display for windows, hidden ones included. The two bitnesses' tests may
# run side by side: each looks for a free display number in a range of its own, so two
# xvfb-runs never race for the same one.
math(EXPR krv_first_display "${CMAKE_SIZEOF_VOID_P} * 25 - 1")
list(JOIN KRV_TESTS_LEFT_OUT_ON_WINDOWS ":" krv_excluded)
add_test(NAME windows.unit
    COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${KRV_WINE_PREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
            KRV_TEST_MODE=1 xvfb-run -a -n ${krv_first_display} -s "-screen 0 1024x768x24 -nolisten tcp -noreset"
            ${KRV_WINE} $<TARGET_FILE:krv_unit_tests> "--gtest_filter=-${krv_excluded}")
set_tests_properties(windows.unit PROPERTIES FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine_prefix LABELS windows TIMEOUT 600)

# The real executable under Wine in a private Xvfb, one scenario per test. They share the
# prefix, where the tool runs once at a time, so they run one after another.
get_property(KRV_SAMPLE_UPDATE_FILE GLOBAL PROPERTY KRV_SAMPLE_UPDATE_FILE)
foreach(scenario window languages second-start screens no-library partial-library planted-library update
        update-unplugged screenshots end-session keyboard)
    add_test(NAME windows.process.${scenario}
        COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_SOURCE_DIR}/process/device_screens.py" ${scenario}
            --wine "${KRV_WINE_PREFIX}"
            --exe "$<TARGET_FILE:KRVUpdateProgram>"
            --sim "$<TARGET_FILE:fwbridge_sim>"
            --partial "$<TARGET_FILE:fwbridge_partial>"
            --sample "${KRV_SAMPLE_UPDATE_FILE}"
            --shots "${CMAKE_BINARY_DIR}/screenshots"
            --end-session "$<TARGET_FILE:krv-end-session>")
    set_tests_properties(windows.process.${scenario} PROPERTIES
        FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine_prefix LABELS windows TIMEOUT 300)
endforeach()

# Whole updates through 32-bit controller libraries of every kind, each with the line that
# says how it was called: plain names of __stdcall functions (the simulated controller as
# shipped), decorated __stdcall names as MinGW and as MSVC link them, and plain names of
# __cdecl functions.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(KRV_LIBRARY_KINDS stdcall decorated msvc-decorated cdecl)
    set(KRV_LIBRARY_stdcall fwbridge_sim "functions are __stdcall: HID_Initialize and HID_SetCallback popped")
    set(KRV_LIBRARY_decorated fwbridge_sim_decorated "exports decorated __stdcall names (HID_Initialize@4, ")
    set(KRV_LIBRARY_msvc-decorated fwbridge_sim_msvc-decorated "exports decorated __stdcall names (_HID_Initialize@4, ")
    set(KRV_LIBRARY_cdecl fwbridge_sim_cdecl "functions are __cdecl: HID_Initialize and HID_SetCallback left")
    foreach(kind ${KRV_LIBRARY_KINDS})
        list(GET KRV_LIBRARY_${kind} 0 library)
        list(GET KRV_LIBRARY_${kind} 1 line)
        add_test(NAME windows.process.update-${kind}-library
            COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_SOURCE_DIR}/process/device_screens.py" update
                --wine "${KRV_WINE_PREFIX}"
                --exe "$<TARGET_FILE:KRVUpdateProgram>"
                --sim "$<TARGET_FILE:${library}>"
                --partial "$<TARGET_FILE:fwbridge_partial>"
                --sample "${KRV_SAMPLE_UPDATE_FILE}"
                --shots "${CMAKE_BINARY_DIR}/screenshots-${kind}"
                --expect-trace "${line}")
        set_tests_properties(windows.process.update-${kind}-library PROPERTIES
            FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine_prefix LABELS windows TIMEOUT 300)
    endforeach()
endif()

# krv-update.exe under Wine: a whole update with the simulated fwbridge.dll. Its hidden
# window needs an X display under Wine, as every window does there.
add_test(NAME windows.process.cli-update
    COMMAND xvfb-run -a -n ${krv_first_display} -s "-screen 0 1024x768x24 -nolisten tcp -noreset"
        ${Python3_EXECUTABLE} "${CMAKE_CURRENT_SOURCE_DIR}/process/cli_update.py"
        --wine "${KRV_WINE_PREFIX}" --exe "$<TARGET_FILE:krv-update>"
        --library "$<TARGET_FILE:fwbridge_sim>" --sample "${KRV_SAMPLE_UPDATE_FILE}")
set_tests_properties(windows.process.cli-update PROPERTIES
    FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine_prefix LABELS windows TIMEOUT 300)

# The real fwbridge.dll against the KRV-7000 emulated at the kernel interface, reached
# through Wine's own HID stack (winebus over the emulated hidraw node). The emulated
# controller runs on this machine beside Wine, so it is built with this machine's compiler.
set(KRV_EMULATED_HOST "${CMAKE_BINARY_DIR}/emulated/krv_emulated_host")
set(krv_host_sources "${CMAKE_CURRENT_SOURCE_DIR}/emulated/EmulatedHost.cpp"
    "${CMAKE_CURRENT_SOURCE_DIR}/emulated/EmulatedKrv7000.cpp" "${PROJECT_SOURCE_DIR}/bridge/sim/Krv7000Model.cpp")
add_custom_command(OUTPUT "${KRV_EMULATED_HOST}"
    COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/emulated/build-host.sh" "${KRV_EMULATED_HOST}" "${PROJECT_SOURCE_DIR}"
            ${krv_host_sources}
    DEPENDS ${krv_host_sources} "${CMAKE_CURRENT_SOURCE_DIR}/emulated/EmulatedKrv7000.h"
            "${CMAKE_CURRENT_SOURCE_DIR}/emulated/build-host.sh"
    COMMENT "Building the emulated KRV-7000 for this machine"
    VERBATIM)
add_custom_target(krv_emulated_host ALL DEPENDS "${KRV_EMULATED_HOST}")

foreach(scenario update numbered composite reset-at-once unplugged late-plug)
    add_test(NAME windows.emulated.${scenario}
        COMMAND ${Python3_EXECUTABLE} "${CMAKE_CURRENT_SOURCE_DIR}/process/emulated_screens.py" ${scenario}
            --wine "${KRV_WINE_PREFIX}"
            --exe "$<TARGET_FILE:KRVUpdateProgram>"
            --library "$<TARGET_FILE:fwbridge_hid>"
            --host "${KRV_EMULATED_HOST}"
            --sample "${KRV_SAMPLE_UPDATE_FILE}")
    set_tests_properties(windows.emulated.${scenario} PROPERTIES
        FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine_prefix LABELS "windows;emulated" TIMEOUT 300)
endforeach()
# The per-block cost of our library over the system's bare HID round trip on the same
# node, under Wine (scripts/bench-windows runs it; timings are no test's business).
add_executable(krv_bench_hid "${PROJECT_SOURCE_DIR}/bench/HidRoundTripBench.cpp")
target_include_directories(krv_bench_hid PRIVATE "${PROJECT_SOURCE_DIR}")
target_link_libraries(krv_bench_hid PRIVATE hid setupapi user32)
target_link_options(krv_bench_hid PRIVATE -municode)
krv_strict_warnings(krv_bench_hid)

add_test(NAME windows.emulated.cli-update
    COMMAND xvfb-run -a -n ${krv_first_display} -s "-screen 0 1024x768x24 -nolisten tcp -noreset"
        ${Python3_EXECUTABLE} "${CMAKE_CURRENT_SOURCE_DIR}/process/cli_update.py"
        --wine "${KRV_WINE_PREFIX}" --exe "$<TARGET_FILE:krv-update>" --json
        --library "$<TARGET_FILE:fwbridge_hid>" --host "${KRV_EMULATED_HOST}" --sample "${KRV_SAMPLE_UPDATE_FILE}")
set_tests_properties(windows.emulated.cli-update PROPERTIES
    FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine_prefix LABELS "windows;emulated" TIMEOUT 300)

# Every test that starts Wine starts the one this build was configured with.
if(KRV_WINE_BIN_DIR)
    get_property(krv_tests DIRECTORY PROPERTY TESTS)
    list(FILTER krv_tests INCLUDE REGEX "^windows\\.")
    set_tests_properties(${krv_tests} PROPERTIES ENVIRONMENT_MODIFICATION "PATH=path_list_prepend:${KRV_WINE_BIN_DIR}")
endif()
