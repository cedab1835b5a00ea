# Link monitor, serialised remote calls and service client: sources and tests.
target_sources(desktop_device PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/critical_section.cpp
  ${CMAKE_CURRENT_LIST_DIR}/link.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rapi_calls.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service_client.cpp)
target_link_libraries(desktop_device PUBLIC rapi_client)

tova_add_test(link_monitor_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/link_monitor_test.cpp
  LIBS desktop_device
  LABELS threads)

if(TARGET link_test_support)
  tova_add_test(link_integration_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/link_integration_test.cpp
    LIBS desktop_device link_test_support
    LABELS threads
    HOSTS_MODULES)
endif()
