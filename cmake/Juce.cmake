# JUCE comes from Debian's juce-modules-source. The module sources are compiled once, into
# juce_console (juce_core, juce_events, juce_cryptography for the image digests) and juce_gui (the GUI modules and everything they
# need); the project's own libraries see only the headers and the shared configuration
# (juce_api), and each executable links the JUCE library it needs.
find_package(JUCE 7.0.5 CONFIG REQUIRED)

add_library(juce_api INTERFACE)
target_include_directories(juce_api SYSTEM INTERFACE "${JUCE_MODULES_DIR}")
target_compile_definitions(juce_api INTERFACE
    JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
    JUCE_STANDALONE_APPLICATION=1
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_USE_DARK_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_USE_CURL=0
    JUCE_WEB_BROWSER=0
    JUCE_DISABLE_JUCE_VERSION_PRINTING=1
    JUCE_MODAL_LOOPS_PERMITTED=1
    JUCE_STRICT_REFCOUNTEDPOINTER=1
    $<IF:$<CONFIG:Debug>,DEBUG=1;_DEBUG=1,NDEBUG=1;_NDEBUG=1>)
target_compile_features(juce_api INTERFACE cxx_std_17)

add_library(juce_console STATIC)
target_link_libraries(juce_console PRIVATE juce::juce_core juce::juce_events juce::juce_cryptography PUBLIC juce_api)

# Libraries that Debian ships for Windows only as source (libpng, libjpeg, SQLite), built
# with the MinGW-w64 toolchain by scripts/windows-deps.sh.
if(MINGW)
    set(USB_WINDOWS_DEPS "${PROJECT_SOURCE_DIR}/build-windows-deps/prefix" CACHE PATH
        "Where scripts/windows-deps.sh installed the Windows libraries")
endif()

if(USB_BUILD_GUI)
    add_library(juce_gui STATIC)
    target_link_libraries(juce_gui
        PRIVATE juce::juce_gui_basics juce::juce_data_structures juce::juce_cryptography
        PUBLIC juce_api)
    # Debian's JUCE decodes images with the system's libpng and libjpeg; its own app
    # targets link them this way.
    if(TARGET juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
        target_link_libraries(juce_gui PUBLIC juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
    endif()
    if(MINGW)
        # juce_gui_basics has more sections than a COFF object allows by default.
        target_compile_options(juce_gui PRIVATE -Wa,-mbig-obj)

        # libpng and libjpeg for Windows, built from Debian's sources by scripts/windows-deps.sh.
        if(NOT EXISTS "${USB_WINDOWS_DEPS}/lib/libpng16.a" OR NOT EXISTS "${USB_WINDOWS_DEPS}/lib/libjpeg.a")
            message(FATAL_ERROR "No Windows image libraries in ${USB_WINDOWS_DEPS}: run scripts/windows-deps.sh")
        endif()
        target_include_directories(juce_gui SYSTEM PRIVATE "${USB_WINDOWS_DEPS}/include")
        target_link_libraries(juce_gui PUBLIC
            "${USB_WINDOWS_DEPS}/lib/libpng16.a" "${USB_WINDOWS_DEPS}/lib/libjpeg.a" z)
    endif()
endif()
