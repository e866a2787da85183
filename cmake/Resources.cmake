# Resources in the Linux build. Each deliverable's .rc file is compiled by
# MinGW-w64's windres, as for its Windows image, but to the binary .res
# form, which is embedded unchanged in the module as its .rsrc section; the
# emulation's resource functions read it from there as Windows reads a PE
# image's resources.
find_program(MRV_WINDRES NAMES x86_64-w64-mingw32-windres i686-w64-mingw32-windres REQUIRED)

# mrv_add_resources(target file.rc [DEPENDS files...]): the module's
# resources, and a test that the module carries exactly what windres made.
# DEPENDS names what the .rc includes (other .rc files, icons, bitmaps).
function(mrv_add_resources target rc)
  cmake_parse_arguments(R "" "" "DEPENDS" ${ARGN})
  get_filename_component(name ${rc} NAME_WE)
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${name}.res)
  add_custom_command(OUTPUT ${res}
    COMMAND ${MRV_WINDRES} -I ${CMAKE_SOURCE_DIR}/include -O res -i ${rc} -o ${res}
    DEPENDS ${rc} ${R_DEPENDS} ${CMAKE_SOURCE_DIR}/include/packageversion.h
    COMMENT "Resources of ${target}")
  set(embed ${CMAKE_CURRENT_BINARY_DIR}/${name}_res.c)
  file(WRITE ${embed}
    "// Generated: ${name}.res as the module's .rsrc section.\n"
    "__asm__(\".section .rsrc, \\\"a\\\"\\n.incbin \\\"${res}\\\"\\n.previous\");\n")
  set_source_files_properties(${embed} PROPERTIES OBJECT_DEPENDS ${res})
  target_sources(${target} PRIVATE ${embed})
  add_test(NAME resources_${target}
    COMMAND ${CMAKE_COMMAND} -DMODULE=$<TARGET_FILE:${target}> -DRES=${res} -DOBJCOPY=${CMAKE_OBJCOPY}
            -P ${CMAKE_SOURCE_DIR}/cmake/CompareResources.cmake)
endfunction()
