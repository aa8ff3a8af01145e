# Installs the program and its manual page, both libraries, the public headers, the CMake package
# (find_package(odefit) gives odefit::odefit and odefit::odefit_static) and
# lib/pkgconfig/odefit.pc.
include(CMakePackageConfigHelpers)

if(TARGET odefit)
  install(TARGETS odefit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The program's own libraries, found through its run path.
  install(TARGETS odefit_blas_threads odefit_desktop_module LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/odefit)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/odefit.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(TARGETS odefit_shared odefit_static EXPORT odefitTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/odefit ${PROJECT_BINARY_DIR}/include/odefit
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")

set(ODEFIT_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/odefit)
install(EXPORT odefitTargets NAMESPACE odefit:: DESTINATION ${ODEFIT_CONFIG_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/odefitConfig.cmake.in
  ${PROJECT_BINARY_DIR}/odefitConfig.cmake INSTALL_DESTINATION ${ODEFIT_CONFIG_DIR})
# Compatible versions are those with the same soname.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(compatibility SameMinorVersion)
else()
  set(compatibility SameMajorVersion)
endif()
write_basic_package_version_file(${PROJECT_BINARY_DIR}/odefitConfigVersion.cmake
  COMPATIBILITY ${compatibility})
install(FILES ${PROJECT_BINARY_DIR}/odefitConfig.cmake ${PROJECT_BINARY_DIR}/odefitConfigVersion.cmake
  DESTINATION ${ODEFIT_CONFIG_DIR})

# pkg-config: the prefix is the one given to cmake --install, so the file is
# written in two steps, the second at install time.
get_property(ODEFIT_PC_REQUIRES_PRIVATE GLOBAL PROPERTY ODEFIT_PC_REQUIRES_PRIVATE)
get_property(ODEFIT_PC_LIBS_PRIVATE GLOBAL PROPERTY ODEFIT_PC_LIBS_PRIVATE)
list(JOIN ODEFIT_PC_REQUIRES_PRIVATE " " ODEFIT_PC_REQUIRES_PRIVATE)
list(JOIN ODEFIT_PC_LIBS_PRIVATE " " ODEFIT_PC_LIBS_PRIVATE)
set(ODEFIT_PC_PREFIX "@CMAKE_INSTALL_PREFIX@")
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(ODEFIT_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(ODEFIT_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/odefit.pc.in ${PROJECT_BINARY_DIR}/odefit.pc.in @ONLY)
install(CODE "configure_file(\"${PROJECT_BINARY_DIR}/odefit.pc.in\" \"${PROJECT_BINARY_DIR}/odefit.pc\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/odefit.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
