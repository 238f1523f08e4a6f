# Installation rules, the CMake package and the pkg-config files.
#
# Installed: the two shared libraries with their versioned sonames, their
# public headers under include/plinth/, the plinth tool, its manual page, the
# CMake package Plinth (targets Plinth::RateConv and Plinth::Tracker) and the
# pkg-config files plinth-rateconv.pc and plinth-tracker.pc. The static
# internals are linked privately into the shared libraries and are not part of
# the package.
include(CMakePackageConfigHelpers)

set(PLINTH_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Plinth)
set(PLINTH_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set_target_properties(PlinthRateConv PROPERTIES EXPORT_NAME RateConv)
set_target_properties(PlinthTracker PROPERTIES EXPORT_NAME Tracker)
# The same names for a project that takes Plinth in with add_subdirectory.
add_library(Plinth::RateConv ALIAS PlinthRateConv)
add_library(Plinth::Tracker ALIAS PlinthTracker)

install(TARGETS PlinthRateConv PlinthTracker
  EXPORT PlinthTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)
install(TARGETS plinth RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
install(FILES ${PROJECT_SOURCE_DIR}/docs/plinth.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)

# CMake package.
install(EXPORT PlinthTargets
  NAMESPACE Plinth::
  FILE PlinthTargets.cmake
  DESTINATION ${PLINTH_INSTALL_CMAKEDIR}
  COMPONENT Development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/PlinthConfig.cmake.in
  ${PROJECT_BINARY_DIR}/PlinthConfig.cmake
  INSTALL_DESTINATION ${PLINTH_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/PlinthConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/PlinthConfig.cmake ${PROJECT_BINARY_DIR}/PlinthConfigVersion.cmake
  DESTINATION ${PLINTH_INSTALL_CMAKEDIR} COMPONENT Development)

# pkg-config files. They find their prefix from their own place, so an
# installation may be moved or made with `cmake --install --prefix`.
function(plinth_install_pkgconfig name library description)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(PLINTH_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
  else()
    set(PLINTH_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  endif()
  if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(PLINTH_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
  else()
    set(PLINTH_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  endif()
  if(IS_ABSOLUTE "${PLINTH_INSTALL_PKGCONFIGDIR}")
    set(PLINTH_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  else()
    file(RELATIVE_PATH up "/root/${PLINTH_INSTALL_PKGCONFIGDIR}" "/root")
    string(REGEX REPLACE "/$" "" up "${up}")
    set(PLINTH_PC_PREFIX "\${pcfiledir}/${up}")
  endif()
  set(PLINTH_PC_NAME ${name})
  set(PLINTH_PC_LIBRARY ${library})
  set(PLINTH_PC_DESCRIPTION "${description}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/plinth.pc.in ${PROJECT_BINARY_DIR}/${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${name}.pc DESTINATION ${PLINTH_INSTALL_PKGCONFIGDIR} COMPONENT Development)
endfunction()

plinth_install_pkgconfig(plinth-rateconv PlinthRateConv
  "Resamples 16-bit PCM WAV files into mono WAV files at another rate")
plinth_install_pkgconfig(plinth-tracker PlinthTracker
  "Renders tracker modules into stereo 16-bit WAV files")
