# What an install holds: the console tool on the PATH, and the window program in a private folder
# together with the files it looks for beside itself (it finds that folder through the real path
# of its executable, so bin/marrowtide can be a link). Test, benchmark and generator programs stay
# in the build folder.
set(MARROWTIDE_INSTALL_PROGRAMDIR lib/marrowtide CACHE STRING
    "The window program's private folder, relative to the prefix")

# The console tool runs the helper beside itself too, so it lives there as well.
install(TARGETS marrowtide marrowtide-img Rastrel2 RUNTIME
        DESTINATION ${MARROWTIDE_INSTALL_PROGRAMDIR})
install(FILES ${CMAKE_BINARY_DIR}/bin/MakeDisk.avi ${CMAKE_BINARY_DIR}/bin/MakeImage.avi
        DESTINATION ${MARROWTIDE_INSTALL_PROGRAMDIR})
install(FILES ${CMAKE_BINARY_DIR}/bin/help/help.htm DESTINATION ${MARROWTIDE_INSTALL_PROGRAMDIR}/help)

# Relative links keep working under DESTDIR and inside the package.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
foreach(_marrowtide_program marrowtide marrowtide-img)
  file(RELATIVE_PATH _marrowtide_link_target /prefix/${CMAKE_INSTALL_BINDIR}
       /prefix/${MARROWTIDE_INSTALL_PROGRAMDIR}/${_marrowtide_program})
  file(CREATE_LINK ${_marrowtide_link_target}
       ${CMAKE_BINARY_DIR}/install-links/${_marrowtide_program} SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/install-links/${_marrowtide_program}
          DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()
