# What a release ships: the version in the headers and in each DLL's version resource, DLLs
# stripped with their debug information beside them, install rules by component, the archive.
set(CAMERALIBS_PRODUCT_NAME "tarvik and fenwyr camera libraries")
set(CAMERALIBS_RELEASE_DIR ${CMAKE_BINARY_DIR}/release-files)
file(MAKE_DIRECTORY ${CAMERALIBS_RELEASE_DIR})
# The generated version headers, for every program that includes a public header.
include_directories(${CMAKE_BINARY_DIR}/include)

# <library>_version.h (beside the public header when installed) and the version resource.
function(cameralibs_versioned_library target prefix description)
  set(LIBRARY ${target})
  set(PREFIX ${prefix})
  set(DESCRIPTION ${description})
  set(PRODUCT_NAME ${CAMERALIBS_PRODUCT_NAME})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.h.in ${CMAKE_BINARY_DIR}/include/${target}_version.h @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  target_include_directories(${target} PUBLIC ${CMAKE_BINARY_DIR}/include)
  if(NOT MSVC)
    # The exports as the linker wrote them: hosts make an MSVC import library from it (lib /def).
    target_link_options(${target} PRIVATE -Wl,--output-def,${CMAKE_BINARY_DIR}/lib/${target}.def)
  endif()
endfunction()

# A stripped copy of the target's file for shipping, and its debug information apart, linked
# from the copy (.gnu_debuglink) so that gdb finds it in a .debug folder beside it.
function(cameralibs_release_copy target)
  if(MSVC)
    return()  # MSVC keeps debug information in PDB files already
  endif()
  set(file $<TARGET_FILE_NAME:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${file}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug $<TARGET_FILE:${target}> ${file}
    WORKING_DIRECTORY ${CAMERALIBS_RELEASE_DIR} VERBATIM)
endfunction()

# Installs a target for the archive: the stripped copy where there is one.
function(cameralibs_install_program target component destination)
  if(MSVC)
    install(TARGETS ${target} RUNTIME DESTINATION ${destination} COMPONENT ${component})
  else()
    install(FILES ${CAMERALIBS_RELEASE_DIR}/$<TARGET_FILE_NAME:${target}> DESTINATION ${destination}
            COMPONENT ${component})
    install(FILES ${CAMERALIBS_RELEASE_DIR}/$<TARGET_FILE_NAME:${target}>.debug DESTINATION ${destination}/.debug
            COMPONENT debug)
  endif()
endfunction()

function(cameralibs_install_library target)
  cameralibs_release_copy(${target})
  cameralibs_install_program(${target} runtime bin)
  # The Node package's own copy: installed under an application's node_modules, the package has
  # no archive around it.
  if(MSVC)
    install(TARGETS ${target} RUNTIME DESTINATION node/camera-libraries/bin COMPONENT development)
  else()
    install(FILES ${CAMERALIBS_RELEASE_DIR}/$<TARGET_FILE_NAME:${target}> DESTINATION node/camera-libraries/bin
            COMPONENT development)
  endif()
  install(FILES $<TARGET_LINKER_FILE:${target}> DESTINATION lib COMPONENT development)
  if(NOT MSVC)
    install(FILES ${CMAKE_BINARY_DIR}/lib/${target}.def DESTINATION lib COMPONENT development)
  endif()
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/${target}.h ${CMAKE_BINARY_DIR}/include/${target}_version.h
          DESTINATION include COMPONENT development)
endfunction()
