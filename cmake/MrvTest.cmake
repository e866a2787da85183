# mrv_add_test(NAME name SOURCES ... LIBS ...)
# One GoogleTest executable per area; the shared main installs the verifier hooks.
function(mrv_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} mrvtestmain GTest::gtest GTest::gmock)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT 600)
endfunction()
