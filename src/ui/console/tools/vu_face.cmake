# The meter's face image: drawn at build time by a program of ours and kept
# as a file beside the executables, where the meter looks for it.
find_package(Qt6 REQUIRED COMPONENTS Gui)
add_executable(ondaline-make-vu-face ${CMAKE_CURRENT_LIST_DIR}/make_vu_face.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../vu_meter_dynamics.cpp)
target_include_directories(ondaline-make-vu-face PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(ondaline-make-vu-face PRIVATE ondaline_options Qt6::Gui)

set(vu_face_png ${CMAKE_BINARY_DIR}/bin/Ondaline_Just_VU.png)
add_custom_command(OUTPUT ${vu_face_png}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:ondaline-make-vu-face> ${vu_face_png}
  DEPENDS ondaline-make-vu-face
  COMMENT "Drawing the VU meter face"
  VERBATIM)
add_custom_target(ondaline_vu_face ALL DEPENDS ${vu_face_png})
# Whatever uses the console views gets the face beside it.
add_dependencies(ondaline_console ondaline_vu_face)
