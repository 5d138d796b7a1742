# Source lists shared by the two builds.

# The portable code: no Windows header, built into the DLL and, natively,
# into the unit tests, the fuzzer and the benchmarks.
set(NOWGLOW_PORTABLE_SOURCES
    plugin/plugin_state.cpp
    plugin/descriptor.cpp
    plugin/instance.cpp
    presence/conversions.cpp
    presence/text_buffer.cpp
    presence/publisher.cpp
    presence/update_pacing.cpp
    presence/composer.cpp
    monitor/playback_monitor.cpp
    settings/settings_block.cpp
    settings/dialog_choices.cpp
)

# The Windows-facing code of the DLL: the module entry, the timer, the
# dialog, the about box, the lock and the real wall clock.
set(NOWGLOW_WIN32_SOURCES
    plugin/dll_main.cpp
    plugin/about_box.cpp
    monitor/status_timer.cpp
    settings/config_dialog.cpp
    presence/publication_lock_win32.cpp
    presence/wall_clock.cpp
    settings/resources.rc
)
# The DLL's one export, by name.
set(NOWGLOW_DLL_EXPORTS ${CMAKE_CURRENT_SOURCE_DIR}/plugin/XMP-Nowglow.def)

# nowglow-appid.exe, which shows and changes the application ID in a built
# DLL: its portable part (tested natively too) and its Windows program.
set(NOWGLOW_APPID_PORTABLE_SOURCES appid/dll_image.cpp appid/ipc_answer.cpp appid/file_trouble.cpp)
set(NOWGLOW_APPID_WIN32_SOURCES appid/appid_main.cpp appid/console.cpp appid/plugin_file.cpp
    appid/discord_check.cpp appid/appid.rc)

set(NOWGLOW_INCLUDE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
