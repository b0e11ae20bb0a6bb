# Builds the program's PNG resources from the Tango icon theme.
#
# qovra_png_resources(<target>) reads icons.map beside this file, copies each
# icon from Tango's PNG folders when Tango has it at that size, renders it
# from the scalable SVG with rsvg-convert otherwise, and compiles the lot
# into <target> as the Qt resource "qovra_png" (paths ":/png/<name>.png").

set(QOVRA_ICON_MAP ${CMAKE_CURRENT_LIST_DIR}/icons.map)

function(qovra_png_resources target)
  find_package(Qt6 REQUIRED COMPONENTS Core)
  find_program(QOVRA_RSVG_CONVERT rsvg-convert REQUIRED)
  find_path(QOVRA_TANGO_DIR index.theme
    PATHS /usr/share/icons/Tango
    NO_DEFAULT_PATH REQUIRED
    DOC "The Tango icon theme (Debian: tango-icon-theme)")

  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/png)
  file(MAKE_DIRECTORY ${out_dir})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QOVRA_ICON_MAP})

  file(STRINGS ${QOVRA_ICON_MAP} lines)
  set(pngs "")
  set(qrc_entries "")
  set(seen "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(NOT line MATCHES "^([A-Za-z0-9_]+)[ \t]+([0-9]+)[ \t]+([A-Za-z0-9_./+-]+)$")
      message(FATAL_ERROR "icons.map: cannot read line '${line}'")
    endif()
    set(name ${CMAKE_MATCH_1})
    set(size ${CMAKE_MATCH_2})
    set(icon ${CMAKE_MATCH_3})
    if(name IN_LIST seen)
      message(FATAL_ERROR "icons.map: ${name} is listed twice")
    endif()
    list(APPEND seen ${name})

    set(png ${out_dir}/${name}.png)
    set(tango_png ${QOVRA_TANGO_DIR}/${size}x${size}/${icon}.png)
    set(tango_svg ${QOVRA_TANGO_DIR}/scalable/${icon}.svg)
    if(EXISTS ${tango_png})
      add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E copy ${tango_png} ${png}
        DEPENDS ${tango_png} ${QOVRA_ICON_MAP}
        VERBATIM)
    elseif(EXISTS ${tango_svg})
      add_custom_command(OUTPUT ${png}
        COMMAND ${QOVRA_RSVG_CONVERT} --width=${size} --height=${size} --format=png
                --output=${png} ${tango_svg}
        DEPENDS ${tango_svg} ${QOVRA_ICON_MAP}
        VERBATIM)
    else()
      message(FATAL_ERROR "icons.map: Tango has no ${icon} (for ${name})")
    endif()
    list(APPEND pngs ${png})
    string(APPEND qrc_entries "    <file alias=\"${name}.png\">png/${name}.png</file>\n")
  endforeach()

  set(qrc ${CMAKE_CURRENT_BINARY_DIR}/qovra_png.qrc)
  file(CONFIGURE OUTPUT ${qrc} CONTENT
    "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n  <qresource prefix=\"/png\">\n${qrc_entries}  </qresource>\n</RCC>\n")

  set(cpp ${CMAKE_CURRENT_BINARY_DIR}/qrc_qovra_png.cpp)
  add_custom_command(OUTPUT ${cpp}
    COMMAND Qt6::rcc --name qovra_png --output ${cpp} ${qrc}
    DEPENDS ${qrc} ${pngs}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    VERBATIM)
  set_source_files_properties(${cpp} PROPERTIES GENERATED TRUE SKIP_AUTOGEN TRUE)
  target_sources(${target} PRIVATE ${cpp})
endfunction()
