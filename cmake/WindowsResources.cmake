# What Windows reads from an executable's resources: the manifest (no administrator prompt,
# the Windows versions, DPI awareness, common controls) and, for the window, the icon.

# The updater's icon, drawn as the Linux package draws it, for juce_add_gui_app's ICON_BIG.
function(krv_windows_icon out_var)
    set(theme "${CMAKE_BINARY_DIR}/icon")
    set(icon "${theme}/256x256/apps/krv7000-updater.png")
    if(NOT EXISTS "${icon}")
        execute_process(COMMAND bash "${PROJECT_SOURCE_DIR}/scripts/package-icon.sh" "${theme}"
                        RESULT_VARIABLE result)
        if(NOT result EQUAL 0 OR NOT EXISTS "${icon}")
            message(FATAL_ERROR "Could not draw the icon (ImageMagick's convert): ${result}")
        endif()
    endif()
    set(${out_var} "${icon}" PARENT_SCOPE)
endfunction()

# Embeds the manifest into target; name and description are the manifest's own.
function(krv_windows_manifest target name description)
    set(KRV_MANIFEST_NAME "${name}")
    set(KRV_MANIFEST_DESCRIPTION "${description}")
    set(KRV_MANIFEST_FILE "${CMAKE_BINARY_DIR}/manifest/${target}.manifest")
    configure_file("${PROJECT_SOURCE_DIR}/platform/windows/Application.manifest.in" "${KRV_MANIFEST_FILE}" @ONLY)
    configure_file("${PROJECT_SOURCE_DIR}/platform/windows/Manifest.rc.in"
                   "${CMAKE_BINARY_DIR}/manifest/${target}-manifest.rc" @ONLY)
    target_sources(${target} PRIVATE "${CMAKE_BINARY_DIR}/manifest/${target}-manifest.rc")
    set_source_files_properties("${CMAKE_BINARY_DIR}/manifest/${target}-manifest.rc" PROPERTIES
        OBJECT_DEPENDS "${KRV_MANIFEST_FILE}")
endfunction()

# The VERSIONINFO (the product, a description and the project's version) and, for the
# window, its icon. The window's replaces the resources.rc juce_add_gui_app writes, whose
# VERSIONINFO knows only the executable's name.
function(krv_windows_version target description)
    set(KRV_RC_DESCRIPTION "${description}")
    set(KRV_RC_NAME "${target}")
    set(KRV_RC_FILE "${target}.exe")
    set(KRV_RC_TYPE VFT_APP)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL SHARED_LIBRARY)
        get_target_property(KRV_RC_NAME ${target} OUTPUT_NAME)
        set(KRV_RC_FILE "${KRV_RC_NAME}.dll")
        set(KRV_RC_TYPE VFT_DLL)
    endif()
    set(KRV_RC_ICON "")
    get_target_property(juce_code ${target} JUCE_GENERATED_SOURCES_DIRECTORY)
    if(juce_code)
        get_target_property(sources ${target} SOURCES)
        list(REMOVE_ITEM sources "${juce_code}/resources.rc")
        set_property(TARGET ${target} PROPERTY SOURCES ${sources})
        get_target_property(icon ${target} JUCE_ICON_FILE)
        if(icon)
            set(KRV_RC_ICON "IDI_ICON1 ICON \"${icon}\"")
        endif()
    endif()
    set(rc "${CMAKE_BINARY_DIR}/manifest/${target}-version.rc")
    configure_file("${PROJECT_SOURCE_DIR}/platform/windows/Version.rc.in" "${rc}" @ONLY)
    target_sources(${target} PRIVATE "${rc}")
endfunction()
