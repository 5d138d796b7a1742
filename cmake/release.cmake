# The release package and the documentation's pictures: the program that
# holds the settings dialog open for its screenshot, and the checks that the
# package is reproducible and the committed pictures are what their sources
# make. The checks run with the Wine-run tests of this build.
add_executable(nowglow-dialog-shot ${CMAKE_SOURCE_DIR}/tools/screenshot/dialog_screenshot.cpp)
target_link_libraries(nowglow-dialog-shot PRIVATE standin_player)
target_compile_options(nowglow-dialog-shot PRIVATE ${NOWGLOW_COMMON_WARNINGS})
target_link_options(nowglow-dialog-shot PRIVATE ${NOWGLOW_WIN32_TEST_LINK})
set_target_properties(nowglow-dialog-shot PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(nowglow-dialog-shot nowglow discord_standin)

add_test(NAME release_package
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/release/package_test.sh ${CMAKE_BINARY_DIR})
add_test(NAME documentation_pictures
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/release/pictures_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(release_package documentation_pictures PROPERTIES TIMEOUT 300)

# nowglow-appid.exe from the package against a build with another ID. It
# builds alone, so that its compiles do not slow the timing tests beside it.
add_test(NAME application_id_identity
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/release/appid_identity_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(application_id_identity PROPERTIES TIMEOUT 1200 RUN_SERIAL TRUE)

# The Windows test bundle, made from this build and run by its own
# run-tests.cmd under Wine's cmd. It runs alone: its tests make the same
# pipes and windows as the suite's own.
add_test(NAME windows_bundle
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/release/bundle_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(windows_bundle PROPERTIES TIMEOUT 1800 RUN_SERIAL TRUE ENVIRONMENT NOWGLOW_WINE_TIMEOUT=1700)
