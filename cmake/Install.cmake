# Installation: the tool, the library, its public headers (keeping the
# subsystem folder names), a CMake package and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MAPSMITH_INCLUDE_SUBDIR mapsmith)

install(TARGETS Mapsmith ${MAPSMITH_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS mapsmith EXPORT MapsmithTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Public headers, keeping the subsystem folders. Headers that only the
# library's own sources include are not installed.
set(MAPSMITH_INTERNAL_HEADERS
  NeuralNets/WeightLayout.h
  NeuralNets/WinnerDistances.h
  NeuralNets/TPreparedMap.h
  NeuralNets/GridDimensions.h
  NeuralNets/TrainingBlocks.h
  NeuralNets/TrainingParts.h
  NeuralNets/WinnerWalk.h
  KQmessage/NameIndex.h)
file(GLOB MAPSMITH_ALL_HEADERS RELATIVE ${PROJECT_SOURCE_DIR}
  ${PROJECT_SOURCE_DIR}/NeuralNets/*.h ${PROJECT_SOURCE_DIR}/DataObject/*.h
  ${PROJECT_SOURCE_DIR}/FileHandler/*.h ${PROJECT_SOURCE_DIR}/KQmessage/*.h)
foreach(header ${MAPSMITH_ALL_HEADERS})
  if(NOT header IN_LIST MAPSMITH_INTERNAL_HEADERS)
    get_filename_component(dir ${header} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${header}
      DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${MAPSMITH_INCLUDE_SUBDIR}/${dir})
  endif()
endforeach()

install(EXPORT MapsmithTargets NAMESPACE Mapsmith::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Mapsmith)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/MapsmithConfig.cmake.in
  ${PROJECT_BINARY_DIR}/MapsmithConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Mapsmith)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/MapsmithConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/MapsmithConfig.cmake
  ${PROJECT_BINARY_DIR}/MapsmithConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Mapsmith)

file(RELATIVE_PATH MAPSMITH_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" MAPSMITH_PC_TO_PREFIX "${MAPSMITH_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/mapsmith.pc.in ${PROJECT_BINARY_DIR}/mapsmith.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mapsmith.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

file(GLOB MAPSMITH_MAN_PAGES ${PROJECT_SOURCE_DIR}/docs/*.1)
if(NOT MAPSMITH_MPI)  # the page of a tool that is not built
  list(FILTER MAPSMITH_MAN_PAGES EXCLUDE REGEX "/MapsmithTrainMPI\\.1$")
endif()
install(FILES ${MAPSMITH_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The documentation, laid out as in the source tree so that the links between
# the files hold after an install: README.md, docs/*.md with docs/examples/
# and docs/images/ (the README shows a picture from there),
# and the example programs and parameter file under examples/.
set(MAPSMITH_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/mapsmith)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${MAPSMITH_DOC_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${MAPSMITH_DOC_DIR}/docs
  FILES_MATCHING PATTERN "*.md" PATTERN "examples/*" PATTERN "images/*")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${MAPSMITH_DOC_DIR}/examples)
