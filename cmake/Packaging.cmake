# Installing and packaging.
#
# Linux: `cmake --install` and the Debian package (cpack -G DEB) hold
#   lib/zoka/zoka, zoka-images.so, ZOKA-ENG.so   the program beside its module
#   bin/zoka -> ../lib/zoka/zoka                 zoka finds what it loads beside
#                                                the file the link points to
#   lib/frei0r-1/zoka_*.so                        the frei0r plug-ins
#   lib/python3/dist-packages/zoka/               the Python module, for Debian's
#                                                python3 (python/CMakeLists.txt)
#   share/man/man1/zoka.1                         from the help texts, at build time
#   bash and zsh completions
# Windows: the module and its install note, as a zip (cpack -G ZIP).
#
# Installing or packaging builds nothing: the build comes first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_PACKAGE_NAME zoka)
set(CPACK_PACKAGE_VENDOR "ZOKA-ENG")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Lumetta effects module, its command line and frei0r plug-ins")
set(CPACK_PACKAGE_CONTACT "ZOKA-ENG developers <zoka-eng@localhost>")

if(WIN32)
    install(TARGETS ZOKA-ENG RUNTIME DESTINATION . LIBRARY DESTINATION .)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/INSTALL-windows.txt DESTINATION . RENAME INSTALL.txt)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "ZOKA-ENG-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR}")
elseif(ZOKA_BUILD_CLI AND NOT CMAKE_CROSSCOMPILING)
    install(TARGETS zoka zoka_images RUNTIME DESTINATION lib/zoka LIBRARY DESTINATION lib/zoka)
    # The frei0r plug-ins install the module when they are built.
    if(NOT TARGET zoka_frei0r)
        install(FILES $<TARGET_FILE:ZOKA-ENG> DESTINATION lib/zoka)
    endif()
    set(packaging ${CMAKE_BINARY_DIR}/packaging)
    file(MAKE_DIRECTORY ${packaging})
    file(CREATE_LINK ../lib/zoka/zoka ${packaging}/zoka SYMBOLIC)
    install(FILES ${packaging}/zoka DESTINATION bin)

    add_custom_command(
        OUTPUT ${packaging}/zoka.1
        COMMAND ${CMAKE_COMMAND} -DZOKA=$<TARGET_FILE:zoka> -DOUTPUT=${packaging}/zoka.1
                -DVERSION=${PROJECT_VERSION} -P ${CMAKE_SOURCE_DIR}/cmake/ManPage.cmake
        DEPENDS zoka ${CMAKE_SOURCE_DIR}/cmake/ManPage.cmake
        COMMENT "Writing zoka's man page from its help texts"
        VERBATIM)
    add_custom_target(zoka_man_page ALL DEPENDS ${packaging}/zoka.1)
    install(FILES ${packaging}/zoka.1 DESTINATION share/man/man1)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/zoka.bash DESTINATION share/bash-completion/completions
            RENAME zoka)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/_zoka DESTINATION share/zsh/vendor-completions)

    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The plug-ins need the bridge, which the package itself holds.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib/zoka)
    # The Python module wants the python3 it was built for and numpy; zoka
    # itself needs neither.
    if(ZOKA_PYTHON_VERSION)
        string(REPLACE "." ";" python_version ${ZOKA_PYTHON_VERSION})
        list(GET python_version 0 python_major)
        list(GET python_version 1 python_minor)
        math(EXPR python_next "${python_minor} + 1")
        set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
            "python3 (>= ${ZOKA_PYTHON_VERSION}), python3 (<< ${python_major}.${python_next}), python3-numpy")
        set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-pil, python3-distributed")
    endif()
endif()
include(CPack)
