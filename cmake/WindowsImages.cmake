# The Windows build (win32 and win64 presets): the deliverables as PE images,
# compiled with MinGW-w64 against its own headers and import libraries, the
# checks of each image, the driver package folder, and the pure routines'
# tests as a Windows program that Wine runs.
enable_language(RC)
enable_testing()

# The package version's four words, for the image checks (one source: the
# header the .rc files include).
file(STRINGS ${CMAKE_SOURCE_DIR}/include/packageversion.h MRV_VERSION_LINES REGEX "^#define MRV_VERSION_")
set(MRV_VERSION_WORDS "")
foreach(part MAJOR MINOR STAGE BUILD)
  string(REGEX MATCH "MRV_VERSION_${part} ([0-9]+)" _ "${MRV_VERSION_LINES}")
  list(APPEND MRV_VERSION_WORDS ${CMAKE_MATCH_1})
endforeach()
string(JOIN "." MRV_VERSION_WORDS ${MRV_VERSION_WORDS})
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR}/include")

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(MRV_PE_MACHINE x64)
else()
  set(MRV_PE_MACHINE x86)
endif()

# What an installer ships, laid out as it ships it; the catalog that would
# sign it cannot be made here.
set(MRV_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
configure_file(${CMAKE_SOURCE_DIR}/avstream-usb/inf/mrvusbaudio.inf ${MRV_PACKAGE_DIR}/mrvusbaudio.inf COPYONLY)

# GoogleTest for the Wine-run tests, linked statically so that the program
# needs no MinGW runtime DLLs beside it. Built before our warning flags.
if(MRV_PE_MACHINE STREQUAL "x64")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

add_compile_options(${MRV_WARNINGS})

# MinGW-w64's kernel headers with the workarounds for their defects.
function(mrv_kernel_headers target)
  target_include_directories(${target} SYSTEM PRIVATE ${MRV_MINGW_DDK_INCLUDE})
  target_compile_options(${target} PRIVATE -include ${CMAKE_SOURCE_DIR}/cmake/mingw-w64/ddkfixes.h)
endfunction()

# Kernel-mode sources: the kernel headers and the language only (no
# exceptions, RTTI, thread-safe statics or stack protector, which need a
# runtime the kernel does not have).
function(mrv_kernel_mode target)
  mrv_kernel_headers(${target})
  target_compile_options(${target} PRIVATE
    -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-stack-protector)
  if(MRV_PE_MACHINE STREQUAL "x86")
    # x86 kernel code is stdcall by default (the WDK builds it so), and the
    # class drivers call back through types that name no convention (ks.h's
    # PFNKS...), so the driver is compiled that way too.
    target_compile_options(${target} PRIVATE -mrtd)
  endif()
endfunction()

# mrv_kernel_import_libraries(target lib...): links the kernel's import
# libraries; on x86 their copies for -mrtd code (stdcall-importlib).
function(mrv_kernel_import_libraries target)
  if(NOT MRV_PE_MACHINE STREQUAL "x86")
    target_link_libraries(${target} PRIVATE ${ARGN})
    return()
  endif()
  foreach(lib ${ARGN})
    set(out ${CMAKE_BINARY_DIR}/importlibs/lib${lib}.a)
    if(NOT TARGET importlib_${lib})
      set(dll ${lib}.sys)
      if(lib STREQUAL "ntoskrnl")
        set(dll ntoskrnl.exe)
      elseif(lib STREQUAL "hal")
        set(dll hal.dll)
      endif()
      add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_SOURCE_DIR}/cmake/mingw-w64/stdcall-importlib ${MRV_MINGW_TRIPLE}-
                /usr/${MRV_MINGW_TRIPLE}/lib/lib${lib}.a ${dll} ${out}
        DEPENDS ${CMAKE_SOURCE_DIR}/cmake/mingw-w64/stdcall-importlib
        COMMENT "Import library ${lib} for stdcall-by-default code")
      add_custom_target(importlib_${lib} DEPENDS ${out})
    endif()
    add_dependencies(${target} importlib_${lib})
    target_link_libraries(${target} PRIVATE ${out})
  endforeach()
endfunction()

# A kernel-mode image: native subsystem, DriverEntry as the entry point,
# relocatable, linked with nothing but the kernel's import libraries given
# by the caller and libgcc's arithmetic helpers. Lands in the package folder.
function(mrv_kernel_driver target objects)
  # DriverEntry is stdcall on both; -mrtd leaves x86 names undecorated.
  if(MRV_PE_MACHINE STREQUAL "x86")
    set(entry _DriverEntry)
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/mingw-w64/kernelsupport.c)
    set_source_files_properties(${CMAKE_SOURCE_DIR}/cmake/mingw-w64/kernelsupport.c PROPERTIES
      COMPILE_OPTIONS "-fno-builtin;-fno-stack-protector")
  else()
    set(entry DriverEntry)
  endif()
  set_target_properties(${target} PROPERTIES
    SUFFIX .sys
    RUNTIME_OUTPUT_DIRECTORY ${MRV_PACKAGE_DIR})
  target_link_options(${target} PRIVATE
    -nostdlib -nostartfiles
    -Wl,--subsystem,native -Wl,--entry,${entry} -Wl,--strip-debug
    -Wl,--dynamicbase -Wl,--nxcompat
    -Wl,--file-alignment,0x200 -Wl,--section-alignment,0x1000
    -Wl,--image-base,0x10000 -Wl,--stack,0x40000)
  set_property(TARGET ${target} PROPERTY MRV_CHECK_OBJECTS ${objects})
endfunction()

# mrv_check_image(target SUBSYSTEM s IMPORTS dll... EXPORTS name...)
# A CTest test (label "pe") that reads the built image's headers and asserts
# machine, subsystem, entry point, the exact imported DLLs and exports and
# the version resource; for kernel images also that no object brought a
# static constructor, RTTI or the C++ runtime.
function(mrv_check_image target)
  cmake_parse_arguments(C "" "SUBSYSTEM" "IMPORTS;EXPORTS" ${ARGN})
  string(JOIN "," imports ${C_IMPORTS})
  string(JOIN "," exports ${C_EXPORTS})
  set(args --objdump ${CMAKE_OBJDUMP} --windres ${CMAKE_RC_COMPILER}
      --machine ${MRV_PE_MACHINE} --subsystem ${C_SUBSYSTEM}
      --version ${MRV_VERSION_WORDS} --imports ${imports})
  if(exports)
    list(APPEND args --exports ${exports})
  endif()
  get_target_property(objects ${target} MRV_CHECK_OBJECTS)
  if(objects)
    list(APPEND args --entry DriverEntry --kernel-objects "$<JOIN:$<TARGET_OBJECTS:${objects}>,$<COMMA>>")
  endif()
  add_test(NAME pe_${target} COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-pe ${args} $<TARGET_FILE:${target}>)
  set_tests_properties(pe_${target} PROPERTIES LABELS pe)
endfunction()

# Windows programs of the tests run under Wine, in a prefix of this build.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run)

# mrv_add_wine_test(NAME name COMMAND program args...): a CTest test (label
# "wine") that runs a Windows program of this build under Wine.
function(mrv_add_wine_test)
  cmake_parse_arguments(W "" "NAME" "COMMAND" ${ARGN})
  add_test(NAME wine_${W_NAME} COMMAND ${W_COMMAND})
  set_tests_properties(wine_${W_NAME} PROPERTIES LABELS wine
    ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all")
endfunction()

add_subdirectory(avstream-usb/wdm)
add_subdirectory(avstream-usb/setuplib)
add_subdirectory(avstream-usb/coinstaller)
add_subdirectory(mrvupdate)
# The ASIO driver is a 64-bit deliverable: mrvusbasio.dll with its client
# library, checked like the kernel driver's image.
if(MRV_PE_MACHINE STREQUAL "x64")
  add_subdirectory(avstream-usb/asiodrv)
  add_subdirectory(tools/mrvhost)
  add_subdirectory(tests/wine)
endif()
