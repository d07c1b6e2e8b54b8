# The installed package: headers, the shared and static libraries, tavlo with the
# plug-ins it ships, the CMake package (imported targets and kelvarin_add_plugin)
# and a pkg-config file.
#
# The libraries are built from OBJECT libraries, so the package describes them
# itself (KelvarinConfig.cmake) rather than through an export set: the imported
# targets carry exactly the include folder and the Qt/{fmt} dependencies.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KELVARIN_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/Kelvarin")
set(KELVARIN_INSTALL_DATADIR "${CMAKE_INSTALL_DATADIR}/kelvarin")

# The shared libraries carry the ABI version in their SONAME (libulmKELrp.so.1),
# so that a program never picks up an incompatible upgrade; the major version is
# the ABI version.
set(KELVARIN_ABI_VERSION "${PROJECT_VERSION_MAJOR}")
set_target_properties(keltk ulmKELrp kelvarin_qt PROPERTIES
  VERSION "${PROJECT_VERSION}" SOVERSION "${KELVARIN_ABI_VERSION}")

install(DIRECTORY "${PROJECT_SOURCE_DIR}/toolkit/include/keltk"
                  "${PROJECT_SOURCE_DIR}/framework/include/kelvarin"
                  "${PROJECT_SOURCE_DIR}/qthost/include/kelvarin"
                  "${PROJECT_SOURCE_DIR}/qthost/include/keltk"
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")

# Installed modules find the libraries next to them (lib) or one folder up (bin).
# The build tree has the same layout and the same RUNPATH, so installing never
# rewrites one: a rewrite in place needs the build RUNPATH padded with empty
# entries, and the loader reads an empty entry as the current folder.
set_target_properties(keltk ulmKELrp kelvarin_qt PROPERTIES INSTALL_RPATH "$ORIGIN"
  LIBRARY_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR}")
set_target_properties(tavlo kelforms Splash DoNothing PROPERTIES
  INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
set_target_properties(keltk ulmKELrp kelvarin_qt tavlo kelforms Splash DoNothing PROPERTIES
  BUILD_WITH_INSTALL_RPATH ON)
if(TARGET kelinfo)
  set_target_properties(kelinfo PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
endif()
install(TARGETS keltk ulmKELrp kelvarin_qt keltk_static ulmKELrp_static
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}")
# The plug-ins it ships go next to tavlo; it finds a bare name in its current
# folder, so it is started from there to load them.
install(TARGETS tavlo kelforms kelvarin-trial-load RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(TARGETS Splash DoNothing LIBRARY DESTINATION "${CMAKE_INSTALL_BINDIR}")
if(TARGET kelinfo)
  install(TARGETS kelinfo RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()

# What kelvarin_add_plugin() needs outside this tree.
install(FILES
  "${PROJECT_SOURCE_DIR}/cmake/KelvarinCommon.cmake"
  "${PROJECT_SOURCE_DIR}/cmake/KelvarinPlugin.cmake"
  "${PROJECT_SOURCE_DIR}/cmake/KelvarinPluginExports.map"
  "${PROJECT_SOURCE_DIR}/framework/entry/PluginInfoExport.cpp"
  DESTINATION "${KELVARIN_INSTALL_CMAKEDIR}")

set(KELVARIN_KELTK_FILE "libkeltk.so.${PROJECT_VERSION}")
set(KELVARIN_KELTK_SONAME "libkeltk.so.${KELVARIN_ABI_VERSION}")
set(KELVARIN_ULMKELRP_FILE "libulmKELrp.so.${PROJECT_VERSION}")
set(KELVARIN_ULMKELRP_SONAME "libulmKELrp.so.${KELVARIN_ABI_VERSION}")
set(KELVARIN_QT_FILE "libkelvarin-qt.so.${PROJECT_VERSION}")
set(KELVARIN_QT_SONAME "libkelvarin-qt.so.${KELVARIN_ABI_VERSION}")
configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/KelvarinConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/KelvarinConfig.cmake"
  INSTALL_DESTINATION "${KELVARIN_INSTALL_CMAKEDIR}"
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_BINDIR)
write_basic_package_version_file("${PROJECT_BINARY_DIR}/KelvarinConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}" COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/KelvarinConfig.cmake"
              "${PROJECT_BINARY_DIR}/KelvarinConfigVersion.cmake"
        DESTINATION "${KELVARIN_INSTALL_CMAKEDIR}")

# A package built with the sanitizers needs them in everything that links it.
set(KELVARIN_PC_SANITIZE "")
if(KELVARIN_SANITIZE)
  set(KELVARIN_PC_SANITIZE "-fsanitize=address,undefined -fno-omit-frame-pointer")
endif()
# pkg-config files: the prefix is found from the file's own place, however deep
# the library folder is (lib/x86_64-linux-gnu under /usr).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(KELVARIN_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH KELVARIN_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  set(KELVARIN_PC_PREFIX "\${pcfiledir}/${KELVARIN_PC_UP}")
endif()
foreach(pc kelvarin kelvarin-plugin kelvarin-qt)
  configure_file("${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in" "${PROJECT_BINARY_DIR}/${pc}.pc" @ONLY)
  install(FILES "${PROJECT_BINARY_DIR}/${pc}.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
endforeach()

# The examples the docs walk through, as sources to copy and build against the
# package: share/kelvarin/examples/<name>. Only the top level of each folder is
# taken, by kind of file, so a build folder or in-place build products left in
# the source tree never reach the package.
set(KELVARIN_EXAMPLE_DIRS
  greeter "${PROJECT_SOURCE_DIR}/examples/greeter"
  notes "${PROJECT_SOURCE_DIR}/examples/notes"
  qt-host "${PROJECT_SOURCE_DIR}/examples/qt-host"
  splash "${PROJECT_SOURCE_DIR}/plugins/splash"
  donothing "${PROJECT_SOURCE_DIR}/plugins/donothing"
  tavlo "${PROJECT_SOURCE_DIR}/host")
while(KELVARIN_EXAMPLE_DIRS)
  list(POP_FRONT KELVARIN_EXAMPLE_DIRS name dir)
  file(GLOB files CONFIGURE_DEPENDS
    "${dir}/*.cpp" "${dir}/*.h" "${dir}/*.kfm" "${dir}/*.tavlo" "${dir}/Makefile")
  list(FILTER files EXCLUDE REGEX "\\.forms\\.cpp$")
  # The plug-ins' and tavlo's build files belong to this tree; the examples' own
  # build against the package.
  if(dir MATCHES "/examples/")
    list(APPEND files "${dir}/CMakeLists.txt")
  endif()
  install(FILES ${files} DESTINATION "${KELVARIN_INSTALL_DATADIR}/examples/${name}")
endwhile()
