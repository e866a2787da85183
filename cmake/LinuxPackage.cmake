# The driver package folder of the Linux build, laid out as the Windows one:
# the INF and the deliverables under their Windows file names, so that the
# setup path installs from it as an installer would.
set(MRV_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
add_custom_target(mrvpackage ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MRV_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/avstream-usb/inf/mrvusbaudio.inf
          ${MRV_PACKAGE_DIR}/mrvusbaudio.inf
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:mrvusbaudio> ${MRV_PACKAGE_DIR}/mrvusbaudio.sys
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:mrvusbaudio_coinst>
          ${MRV_PACKAGE_DIR}/mrvusbaudio_coinst.dll
  DEPENDS ${CMAKE_SOURCE_DIR}/avstream-usb/inf/mrvusbaudio.inf
  COMMENT "Driver package folder")
add_dependencies(mrvpackage mrvusbaudio mrvusbaudio_coinst)
