# `cmake --install` lays out what a host needs: the library with the runtime
# beside it (the library loads the runtime from its own folder), the header,
# and a CMake package so that other projects can find_package(velmora).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  set(velmora_library_dir "${CMAKE_INSTALL_BINDIR}")  # DLLs live beside the executables
else()
  set(velmora_library_dir "${CMAKE_INSTALL_LIBDIR}")
endif()

target_include_directories(velmora PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS velmora EXPORT velmoraTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(FILES "${CMAKE_SOURCE_DIR}/include/velmora.h" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(FILES ${VELMORA_RUNTIME_FILES} DESTINATION "${velmora_library_dir}")

set(velmora_package_dir "${CMAKE_INSTALL_LIBDIR}/cmake/velmora")
install(EXPORT velmoraTargets NAMESPACE velmora:: DESTINATION "${velmora_package_dir}")
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/velmoraConfig.cmake.in"
  "${CMAKE_BINARY_DIR}/velmoraConfig.cmake" INSTALL_DESTINATION "${velmora_package_dir}")
write_basic_package_version_file("${CMAKE_BINARY_DIR}/velmoraConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}" COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_BINARY_DIR}/velmoraConfig.cmake" "${CMAKE_BINARY_DIR}/velmoraConfigVersion.cmake"
  DESTINATION "${velmora_package_dir}")
