# Install rules and packages (`cmake --build BUILD --target package`): a .tar.gz and a
# Debian package on Linux, a zip to unzip and double-click from the Windows cross build.
# The version is the project's, which the banner shows too.
include(GNUInstallDirs)

set(TROV_MAINTAINER "the trov authors" CACHE STRING "Maintainer of the Debian package, \"Name <address>\"")

install(TARGETS trov trov-export trov-series RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/trov.1 docs/trov-export.1 docs/trov-plot.1 docs/trov-series.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(PROGRAMS tools/trov-plot DESTINATION ${CMAKE_INSTALL_BINDIR})
# Its package, where the launcher looks for it: ../share/trov/python.
install(DIRECTORY tools/trov_plot DESTINATION ${CMAKE_INSTALL_DATADIR}/trov/python FILES_MATCHING PATTERN "*.py"
        PATTERN __pycache__ EXCLUDE)
install(FILES src/figure/figure_style.json DESTINATION ${CMAKE_INSTALL_DATADIR}/trov/python/trov_plot)
# The README as it ships: links only to what ships beside it (formats.md,
# LICENSE); the picture and the developers' guide stay in the source tree.
file(READ README.md readme)
string(REGEX REPLACE "!\\[[^]]*\\]\\([^)]*\\)\n\n" "" readme "${readme}")
string(REPLACE "[docs/formats.md](docs/formats.md)" "formats.md (beside this file)" readme "${readme}")
string(REPLACE "[LICENSE](LICENSE)" "the file LICENSE beside this one" readme "${readme}")
string(REPLACE "[CONTRIBUTING.md](CONTRIBUTING.md)" "CONTRIBUTING.md in the source tree" readme "${readme}")
file(WRITE ${CMAKE_BINARY_DIR}/README.md "${readme}")
install(FILES ${CMAKE_BINARY_DIR}/README.md LICENSE docs/formats.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The browser edition, trov.html, comes from an Emscripten build's web target
# (README); a native build ships it, and the licences of what the page
# bundles, when TROV_WEB_PAGE names it.
set(TROV_WEB_PAGE "" CACHE FILEPATH "trov.html from an Emscripten build's web target, to ship in the packages")
if(TROV_WEB_PAGE)
  get_filename_component(web_build ${TROV_WEB_PAGE} DIRECTORY)
  if(NOT EXISTS ${TROV_WEB_PAGE} OR NOT EXISTS ${web_build}/web-licenses.txt)
    message(FATAL_ERROR "TROV_WEB_PAGE: ${TROV_WEB_PAGE} and web-licenses.txt beside it are needed (cmake --build BUILD --target web)")
  endif()
  if(NOT WIN32)
    install(FILES ${TROV_WEB_PAGE} DESTINATION ${CMAKE_INSTALL_DATADIR}/trov)
    install(FILES ${web_build}/web-licenses.txt DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
endif()

set(CPACK_PACKAGE_NAME trov)
set(CPACK_PACKAGE_VENDOR "the trov authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert GSAS Rietveld profiles into ASCII plot files")
set(CPACK_PACKAGE_DESCRIPTION
    "trov reads the experiment file and the binary profile files of a GSAS Rietveld
refinement and writes, for every powder histogram, a plain-text plot file
(position, observed, calculated and difference intensities, scale, auxiliary
value) and a marker file with the reflection tick marks, ready for Origin,
gnuplot, a spreadsheet or Python. The numbers are exact and the same bytes on
every platform. trov-plot draws publication-ready Rietveld figures from them,
labelled with the experiment's own phase and histogram names.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  # One folder to unzip: trov.exe, the documents as Notepad reads them, the figure
  # tool (for a Python with matplotlib) and the sample experiment to try it on at once.
  configure_file(packaging/windows/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  set(zip_sample ${CMAKE_BINARY_DIR}/zip_sample)
  add_custom_command(OUTPUT ${zip_sample}/SAMPLE.EXP ${zip_sample}/SAMPLE.P01 ${zip_sample}/SAMPLE.P03
                     COMMAND make_sample ${zip_sample} DEPENDS make_sample VERBATIM)
  add_custom_target(zip_sample ALL DEPENDS ${zip_sample}/SAMPLE.EXP)
  install(TARGETS trov trov-export trov-series RUNTIME DESTINATION . COMPONENT windows_zip EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_BINARY_DIR}/LICENSE.txt tools/trov-plot
          DESTINATION . COMPONENT windows_zip EXCLUDE_FROM_ALL)
  install(DIRECTORY tools/trov_plot DESTINATION . COMPONENT windows_zip EXCLUDE_FROM_ALL
          FILES_MATCHING PATTERN "*.py" PATTERN __pycache__ EXCLUDE)
  install(FILES src/figure/figure_style.json DESTINATION trov_plot COMPONENT windows_zip EXCLUDE_FROM_ALL)
  install(FILES ${zip_sample}/SAMPLE.EXP ${zip_sample}/SAMPLE.P01 ${zip_sample}/SAMPLE.P03
          DESTINATION sample COMPONENT windows_zip EXCLUDE_FROM_ALL)
  if(TROV_WEB_PAGE)
    install(FILES ${TROV_WEB_PAGE} ${web_build}/web-licenses.txt DESTINATION . COMPONENT windows_zip EXCLUDE_FROM_ALL)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_COMPONENTS_ALL windows_zip)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_FILE_NAME trov-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TROV_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # trov-plot does not run without matplotlib (which brings numpy); the
  # converters need neither. Debian wants a script's interpreter depended on.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-matplotlib")
  if(trov_python_module)
    # The module is built for one Python version's ABI, and hands out numpy arrays.
    set(python "${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}")
    math(EXPR next_minor "${Python_VERSION_MINOR} + 1")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= ${python}~), python3 (<< ${Python_VERSION_MAJOR}.${next_minor})")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-matplotlib, python3-numpy")
  endif()
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Debian's own documents go in by a script run on the staged files: the
  # copyright file, the changelog and the man page, gzipped as Debian wants.
  configure_file(packaging/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
  set(CPACK_TROV_DEBIAN_DIR ${CMAKE_BINARY_DIR}/debian)
  set(CPACK_TROV_SOURCE_DIR ${CMAKE_SOURCE_DIR})
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/debian_files.cmake)
endif()

include(CPack)
