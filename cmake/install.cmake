# What `cmake --install` puts under the prefix: the two component modules (with a SOVERSION) and
# the Matroska plugin the detector loads from its folder,
# the tool and its man page, the public headers, mediadetect.pc and the CMake package
# (find_package(mediadetect) gives the imported target mediadetect::mediadetect).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

foreach(module mediadetect mdtimeindex)
  set_target_properties(${module} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endforeach()
target_include_directories(mediadetect INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS mediadetect EXPORT mediadetectTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS mdtimeindex mdmatroska LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS mediadetect_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY include/mediadetect DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT mediadetectTargets NAMESPACE mediadetect:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mediadetect)
file(WRITE ${CMAKE_BINARY_DIR}/mediadetectConfig.cmake
     "include(\"\${CMAKE_CURRENT_LIST_DIR}/mediadetectTargets.cmake\")\n")
write_basic_package_version_file(${CMAKE_BINARY_DIR}/mediadetectConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/mediadetectConfig.cmake ${CMAKE_BINARY_DIR}/mediadetectConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mediadetect)

# The .pc file finds the prefix from where it lies, so the installed tree may move.
file(RELATIVE_PATH MD_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(cmake/mediadetect.pc.in ${CMAKE_BINARY_DIR}/mediadetect.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/mediadetect.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The man page is the tool's --help, formatted by help2man where it is installed.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/mediadetect.1
                     COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
                             "--name=media-file detector" --output=${CMAKE_BINARY_DIR}/mediadetect.1
                             $<TARGET_FILE:mediadetect_tool>
                     DEPENDS mediadetect_tool mediadetect VERBATIM)
  add_custom_target(manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/mediadetect.1)
  install(FILES ${CMAKE_BINARY_DIR}/mediadetect.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
