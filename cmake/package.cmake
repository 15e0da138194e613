# The archive: camera-libraries-<version>-win64.zip with every component, one folder inside.
configure_file(${PROJECT_SOURCE_DIR}/cmake/archive-README.md.in ${CMAKE_BINARY_DIR}/archive/README.md @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/archive/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . COMPONENT runtime)
# fenwyr.dll has libjpeg-turbo and libyuv inside: their licence texts ship with it.
set(third_party_licences
    libjpeg-turbo/LICENSE.md share/doc/libjpeg-turbo/LICENSE.md
    libjpeg-turbo/README.ijg share/doc/libjpeg-turbo/README.ijg
    libyuv/LICENSE share/licenses/libyuv/LICENSE
    libyuv/PATENTS share/licenses/libyuv/PATENTS)
while(third_party_licences)
  list(POP_FRONT third_party_licences shipped found)
  get_filename_component(folder ${shipped} DIRECTORY)
  if(EXISTS ${CAMERALIBS_THIRD_PARTY}/${found})
    install(FILES ${CAMERALIBS_THIRD_PARTY}/${found} DESTINATION licenses/${folder} COMPONENT runtime)
  else()
    message(WARNING "${found} is not in ${CAMERALIBS_THIRD_PARTY}: the archive lacks a licence text")
  endif()
endwhile()
# The Node package carries the project's version too.
set(node_package_json ${PROJECT_SOURCE_DIR}/bindings/node/package.json)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${node_package_json})
file(READ ${node_package_json} node_package)
string(REGEX REPLACE "\"version\": \"[^\"]*\"" "\"version\": \"${PROJECT_VERSION}\"" node_package "${node_package}")
file(WRITE ${CMAKE_BINARY_DIR}/archive/package.json "${node_package}")
install(FILES ${CMAKE_BINARY_DIR}/archive/package.json ${PROJECT_SOURCE_DIR}/bindings/node/index.js
              ${PROJECT_SOURCE_DIR}/bindings/node/index.mjs ${PROJECT_SOURCE_DIR}/bindings/node/index.d.ts
              ${PROJECT_SOURCE_DIR}/bindings/node/README.md ${PROJECT_SOURCE_DIR}/bindings/node/LICENSE
        DESTINATION node/camera-libraries COMPONENT development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/node/lib/ DESTINATION node/camera-libraries/lib COMPONENT development)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME camera-libraries)
set(CPACK_PACKAGE_VENDOR "${CAMERALIBS_PRODUCT_NAME}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME camera-libraries-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_COMPONENTS_ALL runtime development debug)
if(CAMERALIBS_BUILD_TOOLS)
  list(APPEND CPACK_COMPONENTS_ALL simulators)
endif()
include(CPack)
