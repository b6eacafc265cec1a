# The JUCE modules, built once into one static library that the program and every test link.

add_library(pelk_juce STATIC)

target_link_libraries(pelk_juce
    PRIVATE
        juce::juce_core
        juce::juce_events
        juce::juce_data_structures
        juce::juce_graphics
        juce::juce_gui_basics
    PUBLIC
        juce::juce_recommended_config_flags)

target_compile_definitions(pelk_juce
    PUBLIC
        JUCE_DISPLAY_SPLASH_SCREEN=0
        JUCE_USE_CURL=0
        JUCE_WEB_BROWSER=0
        JUCE_MODAL_LOOPS_PERMITTED=1
        JUCE_STANDALONE_APPLICATION=1
        JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1

    INTERFACE
        $<TARGET_PROPERTY:pelk_juce,COMPILE_DEFINITIONS>)

# The module sources JUCE attaches to each module target are compiled here; consumers get the
# include paths (as system folders, so the project's warning set does not apply to JUCE's headers) and
# definitions only.
target_include_directories(pelk_juce SYSTEM
    INTERFACE
        $<TARGET_PROPERTY:pelk_juce,INCLUDE_DIRECTORIES>)

target_link_libraries(pelk_juce PUBLIC juce::pkgconfig_JUCE_IMG_LINUX_DEPS)

set_target_properties(pelk_juce PROPERTIES
    POSITION_INDEPENDENT_CODE TRUE
    VISIBILITY_INLINES_HIDDEN TRUE
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden)
