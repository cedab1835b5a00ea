# Tests of the pages, the update worker and the start-up. They run the pages on the
# headless dialog host against a handheld emulated in-process, reached over its real link.
if(TARGET tova_emulator AND TARGET tova_link AND TARGET harlix AND TARGET velkor)
  add_library(wizard_test_fixture STATIC tests/wizard_fixture.cpp)
  target_include_directories(wizard_test_fixture PUBLIC tests)
  target_link_libraries(wizard_test_fixture
    PUBLIC desktop_wizard desktop_pages ui_headless tova_emulator tova_link romimage GTest::gtest
           handheld_link_fixture handheld_watchdog
    PRIVATE tova_options)
  target_compile_definitions(wizard_test_fixture PRIVATE
    HARLIX_MODULE_FILE="$<TARGET_FILE:harlix>" VELKOR_MODULE_FILE="$<TARGET_FILE:velkor>")
  add_dependencies(wizard_test_fixture harlix velkor)

  tova_add_test(wizard_pages_test
    SOURCES tests/device_checks_test.cpp tests/device_info_page_test.cpp tests/simple_pages_test.cpp
            tests/progress_page_test.cpp tests/wizard_sequence_test.cpp
    LIBS wizard_test_fixture
    LABELS threads
    HOSTS_MODULES)

  tova_add_test(setup_program_test
    SOURCES tests/setup_program_test.cpp
    LIBS wizard_test_fixture child_process
    LABELS threads
    HOSTS_MODULES)
  add_dependencies(setup_program_test setup)
  target_compile_definitions(setup_program_test PRIVATE SETUP_PROGRAM_FILE="$<TARGET_FILE:setup>")

  # Every page in real Qt windows, offscreen; the screenshots stay in artifacts/wizard.
  if(TOVA_WITH_QT)
    tova_add_test(wizard_qt_test
      SOURCES tests/qt_pages_test.cpp
      LIBS wizard_test_fixture ui_qt ui_qt_test_support
      LABELS qt
      HOSTS_MODULES)
    target_compile_definitions(wizard_qt_test PRIVATE
      WIZARD_ARTIFACT_DIR="${CMAKE_BINARY_DIR}/artifacts/wizard")

    # setup as a process, unattended in real windows off screen, picturing every page.
    tova_add_test(setup_screenshots_test
      SOURCES tests/setup_screenshots_test.cpp
      LIBS wizard_test_fixture child_process ui_qt ui_qt_test_support
      LABELS qt
      HOSTS_MODULES)
    add_dependencies(setup_screenshots_test setup)
    target_compile_definitions(setup_screenshots_test PRIVATE SETUP_PROGRAM_FILE="$<TARGET_FILE:setup>")
  endif()
endif()
