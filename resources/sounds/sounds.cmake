# Builds qelto.rcc, the dialog sounds beside the program: a binary Qt
# resource holding three zlib-compressed WAV files under ":/qelto/101",
# ":/qelto/102" and ":/qelto/103", made by make_dialog_sounds at build time.
#
# QOVRA_QELTO_SOUND_DIR names the folder of the compressed sounds, so that
# tests can build resources of their own from them.

find_package(Qt6 REQUIRED COMPONENTS Core)

set(QOVRA_QELTO_SOUND_DIR ${CMAKE_BINARY_DIR}/resources/sounds
    CACHE INTERNAL "Folder of the generated dialog sounds")
set(_qelto_dir ${QOVRA_QELTO_SOUND_DIR})
file(MAKE_DIRECTORY ${_qelto_dir})

add_executable(make_dialog_sounds ${CMAKE_CURRENT_LIST_DIR}/make_dialog_sounds.cpp)
target_link_libraries(make_dialog_sounds PRIVATE ZLIB::ZLIB)
set_target_properties(make_dialog_sounds PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${_qelto_dir})

set(_qelto_sounds ${_qelto_dir}/101.wavz ${_qelto_dir}/102.wavz ${_qelto_dir}/103.wavz)
add_custom_command(OUTPUT ${_qelto_sounds}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:make_dialog_sounds> ${_qelto_dir}
  DEPENDS make_dialog_sounds
  COMMENT "Generating the dialog sounds"
  VERBATIM)

configure_file(${CMAKE_CURRENT_LIST_DIR}/qelto.qrc ${_qelto_dir}/qelto.qrc COPYONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/bin/qelto.rcc
  COMMAND Qt6::rcc --binary --no-compress --output ${CMAKE_BINARY_DIR}/bin/qelto.rcc
          ${_qelto_dir}/qelto.qrc
  DEPENDS ${_qelto_sounds} ${_qelto_dir}/qelto.qrc
  WORKING_DIRECTORY ${_qelto_dir}
  COMMENT "Building qelto.rcc"
  VERBATIM)
add_custom_target(qelto_rcc ALL DEPENDS ${CMAKE_BINARY_DIR}/bin/qelto.rcc)
