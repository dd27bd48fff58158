# Desktop tests of the start-up sequence and the F10/F11 hotkeys: the key grabs
# on their own, and the real program with its notice page served from loopback.
# Each runs on a private desktop (sandbox.sh); screenshots go to artifacts/.

pkg_check_modules(STARTUP_TEST_X11 REQUIRED IMPORTED_TARGET x11)
pkg_check_modules(STARTUP_TEST_GTK REQUIRED IMPORTED_TARGET gtk+-3.0)

set(startup_desktop ${CMAKE_CURRENT_SOURCE_DIR}/desktop)
set(startup_artifacts ${CMAKE_BINARY_DIR}/artifacts/startup)

# Another X client: holds keys, sets the lock keys.
add_executable(x_helper ${startup_desktop}/x_helper.c)
target_link_libraries(x_helper PRIVATE PkgConfig::STARTUP_TEST_X11)

add_executable(x11_hotkeys_test ${startup_desktop}/x11_hotkeys_test.cpp ${PROJECT_SOURCE_DIR}/shell/gtk/x11_hotkeys.cpp)
target_include_directories(x11_hotkeys_test PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(x11_hotkeys_test PRIVATE TELVORO_X_HELPER="$<TARGET_FILE:x_helper>")
target_link_libraries(x11_hotkeys_test PRIVATE PkgConfig::STARTUP_TEST_GTK PkgConfig::STARTUP_TEST_X11 GTest::gtest_main)
add_dependencies(x11_hotkeys_test x_helper)
add_test(NAME desktop.x11_hotkeys COMMAND ${startup_desktop}/sandbox.sh -- $<TARGET_FILE:x11_hotkeys_test>)
set_tests_properties(desktop.x11_hotkeys PROPERTIES LABELS desktop TIMEOUT 120)

foreach(scenario online f10-held update offline)
  set(network "")
  if(NOT scenario STREQUAL "offline")
    set(network --online)
  endif()
  add_test(NAME desktop.startup.${scenario}
           COMMAND ${startup_desktop}/sandbox.sh ${network} -- ${startup_desktop}/startup_hotkeys.sh ${scenario}
                   $<TARGET_FILE:telvoro> $<TARGET_FILE:x_helper> ${startup_artifacts})
  set_tests_properties(desktop.startup.${scenario} PROPERTIES LABELS desktop TIMEOUT 240)
endforeach()
