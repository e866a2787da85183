# cpp-httplib, the ordinary HTTP server that tests run on the loopback
# address. Debian builds it as a library beside its header, for the
# machine's word size only, so the 32-bit build has none (MRV_HTTPLIB off).
set(MRV_HTTPLIB OFF)
if(NOT MRV_M32)
  find_path(MRV_HTTPLIB_INCLUDE httplib.h)
  find_library(MRV_HTTPLIB_LIBRARY cpp-httplib)
  if(NOT MRV_HTTPLIB_INCLUDE OR NOT MRV_HTTPLIB_LIBRARY)
    message(FATAL_ERROR "cpp-httplib (httplib.h and libcpp-httplib) was not found: "
                        "install the package libcpp-httplib-dev (scripts/install-deps does)")
  endif()
  add_library(mrvhttplib INTERFACE)
  target_include_directories(mrvhttplib SYSTEM INTERFACE ${MRV_HTTPLIB_INCLUDE})
  target_link_libraries(mrvhttplib INTERFACE ${MRV_HTTPLIB_LIBRARY})
  set(MRV_HTTPLIB ON)
endif()
