# JUCE compiled once, as a static library that the core library and every
# executable share.
add_library(krv_juce STATIC)

target_link_libraries(krv_juce
    PRIVATE
        juce::juce_core
        juce::juce_events
        juce::juce_data_structures
        juce::juce_graphics
        juce::juce_gui_basics
    PUBLIC
        juce::juce_recommended_config_flags)

if(WIN32)
    krv_adapt_juce_for_mingw(krv_juce)
else()
    target_link_libraries(krv_juce PUBLIC juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
endif()

target_compile_definitions(krv_juce
    PUBLIC
        JUCE_STANDALONE_APPLICATION=1
        JUCE_DISPLAY_SPLASH_SCREEN=0
        JUCE_REPORT_APP_USAGE=0
        JUCE_WEB_BROWSER=0
        JUCE_USE_CURL=0
        JUCE_MODAL_LOOPS_PERMITTED=1
        JUCE_LOG_ASSERTIONS=0
    INTERFACE
        $<TARGET_PROPERTY:krv_juce,COMPILE_DEFINITIONS>)

target_include_directories(krv_juce
    INTERFACE $<TARGET_PROPERTY:krv_juce,INCLUDE_DIRECTORIES>)

set_target_properties(krv_juce PROPERTIES
    POSITION_INDEPENDENT_CODE TRUE
    VISIBILITY_INLINES_HIDDEN TRUE
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden)
