# Installs the engine for programs that link it: the static library, the
# public headers (C interface, scalar types, C++ interface), a CMake package
# (find_package(micarray) gives micarray::micarray) and a pkg-config file.
# Component micarray_dev; the programs install as component micarray_bin.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Every program this configuration builds (micbeam only where its libraries are).
set(MICARRAY_PROGRAMS)
foreach(program pcmbeam wavbeam micbeam)
  if(TARGET ${program})
    list(APPEND MICARRAY_PROGRAMS ${program})
  endif()
endforeach()
install(TARGETS ${MICARRAY_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT micarray_bin)

set(MICARRAY_INCLUDE_SUBDIR ${CMAKE_INSTALL_INCLUDEDIR}/micarray)
set(MICARRAY_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/micarray)

install(TARGETS micarray EXPORT micarrayTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT micarray_dev
  INCLUDES DESTINATION ${MICARRAY_INCLUDE_SUBDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/include/micarray/micarray.h
  ${PROJECT_SOURCE_DIR}/include/micarray/fixed.h
  ${PROJECT_SOURCE_DIR}/include/micarray/micarray.hpp
  ${PROJECT_SOURCE_DIR}/include/micarray/mvdr.h
  DESTINATION ${MICARRAY_INCLUDE_SUBDIR} COMPONENT micarray_dev)
install(EXPORT micarrayTargets NAMESPACE micarray:: DESTINATION ${MICARRAY_CMAKE_DIR} COMPONENT micarray_dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/micarrayConfig.cmake.in
  ${PROJECT_BINARY_DIR}/micarrayConfig.cmake INSTALL_DESTINATION ${MICARRAY_CMAKE_DIR})
# The version file accepts consumers of the library's pointer size only; the
# 32-bit build gets -m32 from compile options, after CMake probed the compiler.
function(micarray_write_version_file)
  if(MICARRAY_M32)
    set(CMAKE_SIZEOF_VOID_P 4)
  endif()
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/micarrayConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
endfunction()
micarray_write_version_file()
install(FILES ${PROJECT_BINARY_DIR}/micarrayConfig.cmake ${PROJECT_BINARY_DIR}/micarrayConfigVersion.cmake
  DESTINATION ${MICARRAY_CMAKE_DIR} COMPONENT micarray_dev)

# The prefix is found from the file's own place (pkg-config's pcfiledir), so
# the file stays valid wherever the prefix is chosen at install time.
file(RELATIVE_PATH MICARRAY_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/micarray.pc.in ${PROJECT_BINARY_DIR}/micarray.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/micarray.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT micarray_dev)
