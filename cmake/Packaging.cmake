# The Debian package. In a Release build directory, `cpack -G DEB` makes
# tolvi_<version>_<arch>.deb from what `cmake --install` puts under /usr.
#
# The package's own files (copyright, changelog, manual page) are kept by
# hand in data/deb; the changelog's newest entry and the metainfo's newest
# release carry the project's version, and tests/packaging checks that they
# agree with it.

set(_deb ${PROJECT_SOURCE_DIR}/data/deb)

# Debian wants the changelog and the manual page gzipped, without a name or
# time stamp in the header so that two builds of the same version give the
# same bytes. The changelog is that of a native package: its versions are the
# project's own, with no Debian revision.
set(_gzipped)
foreach(pair "changelog;changelog.gz" "tolvi.1;tolvi.1.gz")
  list(GET pair 0 _in)
  list(GET pair 1 _out)
  add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/deb/${_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/deb
    COMMAND gzip -9nc ${_deb}/${_in} > ${CMAKE_CURRENT_BINARY_DIR}/deb/${_out}
    DEPENDS ${_deb}/${_in}
    VERBATIM)
  list(APPEND _gzipped ${CMAKE_CURRENT_BINARY_DIR}/deb/${_out})
endforeach()
add_custom_target(tolvi_deb_gzipped ALL DEPENDS ${_gzipped})
# cpack installs without building, and a package is built from the tolvi
# target alone.
add_dependencies(tolvi tolvi_deb_gzipped)

install(FILES ${_deb}/copyright ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tolvi)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/deb/tolvi.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tolvi developers")
set(CPACK_PACKAGE_CONTACT "Tolvi developers <tolvi@users.noreply.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "chat client for the free language models of OpenRouter")
# Lines as Debian shows them: at most 80 columns.
set(CPACK_PACKAGE_DESCRIPTION [[
Tolvi is a desktop chat client for large language models that uses only
the models the OpenRouter service offers free of charge. It measures the
free models, sends each message to the fastest one that works, and shows
the answer as Markdown while it streams in. When a model fails, it moves
on to the next one and says which model answered and why.

The key is kept in the desktop's Secret Service, and chats are kept as
files in the user's data folder.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Whatever the builder's umask, directories in the package are 0755.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps reads what the binary links. What Tolvi loads at run time
# it cannot see: Qt's platform plugins (X11, Wayland) and libsecret, which is
# opened with dlopen.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-wayland, libsecret-1-0")

include(CPack)
