# cmake -DMODULE=lib.so -DRES=file.res -DOBJCOPY=objcopy -P CompareResources.cmake
# Fails unless the module's .rsrc section holds exactly the .res file.
execute_process(COMMAND ${OBJCOPY} -O binary --only-section=.rsrc ${MODULE} ${RES}.embedded
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${MODULE}: no .rsrc section could be read")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${RES} ${RES}.embedded RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${MODULE}: .rsrc differs from ${RES}")
endif()
