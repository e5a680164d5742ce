# A CPack post-build step for the Debian package (CPACK_POST_BUILD_SCRIPTS).
# CPack's DEB generator adds postinst and postrm scripts that run ldconfig
# whenever a shared library lies in a folder just below /usr/lib. Ours are
# private (usr/lib/tarvcanflash: the programs load them from their own folder
# and by $ORIGIN), so ldconfig has nothing to do for them, and Debian wants no
# ldconfig call in maintainer scripts (lintian: maintscript-calls-ldconfig).
# Each package is built again by dpkg-deb without such scripts; a script that
# does anything else stays.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  set(changed OFF)
  foreach(script postinst postrm)
    set(path ${tree}/DEBIAN/${script})
    if(EXISTS ${path})
      file(STRINGS ${path} lines)
      list(FILTER lines EXCLUDE REGEX "^[ \t]*(#!/bin/sh|set -e|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then|ldconfig|fi|)[ \t]*$")
      if(lines STREQUAL "")
        file(REMOVE ${path})
        set(changed ON)
      endif()
    endif()
  endforeach()
  if(changed)
    execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build ${tree} ${deb}
      OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
