# Runs in CPack after the host directory is staged and before the package is made. For the .deb
# it adds, around the host directory under /opt/vexdram: links to the programs in /usr/bin, the
# studio's launcher, the manual pages in /usr/share/man/man1 and vexdram's bash completion
# (moved out of the host directory, the pages compressed), the copyright file, the changelog and
# the lintian overrides; and where pkg-config and CMake look, a vexdram.pc and a CMake package
# that lead to the library in the host directory.
#
# For both packages first: the static library without its debug information (CPack strips the
# programs and shared objects only).
file(GLOB_RECURSE archives ${CPACK_TEMPORARY_DIRECTORY}/*libvexdram.a)
foreach(archive ${archives})
  execute_process(COMMAND ${CPACK_VEXDRAM_STRIP} --strip-debug ${archive} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "strip ${archive} failed")
  endif()
endforeach()
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(root ${CPACK_TEMPORARY_DIRECTORY})
set(prefix ${CPACK_VEXDRAM_DEB_PREFIX})
set(host ${root}${prefix})

# gzip -9n: compressed without a name or time stamp, so the package is reproducible.
function(gzip_to src dst)
  execute_process(COMMAND gzip -9nc ${src} OUTPUT_FILE ${dst} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${src} failed")
  endif()
endfunction()

file(MAKE_DIRECTORY ${root}/usr/bin)
foreach(tool vexdram_tool vexdram imgwelder)
  file(CREATE_LINK ${prefix}/resource/tools/${tool} ${root}/usr/bin/${tool} SYMBOLIC)
endforeach()
file(COPY ${CPACK_VEXDRAM_STUDIO_LAUNCHER} DESTINATION ${root}/usr/bin
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

file(GLOB pages ${host}/share/man/man1/*.1)
file(MAKE_DIRECTORY ${root}/usr/share/man/man1)
foreach(page ${pages})
  get_filename_component(name ${page} NAME)
  gzip_to(${page} ${root}/usr/share/man/man1/${name}.gz)
endforeach()
# bash completion where bash-completion looks for it
file(MAKE_DIRECTORY ${root}/usr/share/bash-completion/completions)
file(COPY_FILE ${host}/share/bash-completion/completions/vexdram ${root}/usr/share/bash-completion/completions/vexdram)
file(REMOVE_RECURSE ${host}/share)

# The library stays in the host directory (/opt/vexdram/include, /opt/vexdram/lib); pkg-config
# and find_package find it from /usr/lib/<multiarch> without hints.
set(arch_lib ${root}/usr/lib/${CPACK_VEXDRAM_MULTIARCH})
file(READ ${host}/lib/pkgconfig/vexdram.pc pc)
string(REPLACE "\${pcfiledir}/../.." "${prefix}" pc "${pc}")
file(WRITE ${arch_lib}/pkgconfig/vexdram.pc "${pc}")
foreach(name vexdramConfig vexdramConfigVersion)
  file(WRITE ${arch_lib}/cmake/vexdram/${name}.cmake
       "# The vexdram package of ${prefix}\ninclude(\"${prefix}/lib/cmake/vexdram/${name}.cmake\")\n")
endforeach()

set(doc ${root}/usr/share/doc/vexdram)
file(COPY ${CPACK_VEXDRAM_PACKAGING_DIR}/copyright DESTINATION ${doc})
file(STRINGS ${CPACK_VEXDRAM_PACKAGING_DIR}/changelog latest LIMIT_COUNT 1)
if(NOT latest MATCHES "^vexdram \\(${CPACK_PACKAGE_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: its latest entry is not version ${CPACK_PACKAGE_VERSION}")
endif()
gzip_to(${CPACK_VEXDRAM_PACKAGING_DIR}/changelog ${doc}/changelog.gz)
file(MAKE_DIRECTORY ${root}/usr/share/lintian/overrides)
file(COPY_FILE ${CPACK_VEXDRAM_PACKAGING_DIR}/lintian-overrides ${root}/usr/share/lintian/overrides/vexdram)
