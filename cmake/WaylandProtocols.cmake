# glidemate_wayland_protocols(TARGET xml...): generates the client header and
# the interface code of each Wayland protocol XML file with wayland-scanner
# and adds them to TARGET. The header of foo.xml is foo-client-protocol.h,
# found on TARGET's include path.
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)

function(glidemate_wayland_protocols target)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols)
  file(MAKE_DIRECTORY ${out})
  foreach(xml ${ARGN})
    get_filename_component(name ${xml} NAME_WE)
    add_custom_command(
      OUTPUT ${out}/${name}-client-protocol.h
      COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${out}/${name}-client-protocol.h
      DEPENDS ${xml} VERBATIM)
    add_custom_command(
      OUTPUT ${out}/${name}-protocol.c
      COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${out}/${name}-protocol.c
      DEPENDS ${xml} VERBATIM)
    target_sources(${target} PRIVATE ${out}/${name}-client-protocol.h ${out}/${name}-protocol.c)
  endforeach()
  target_include_directories(${target} PRIVATE ${out})
endfunction()
