# The .NET package (bindings/dotnet) as a NuGet package made from the DLLs that ship; the archive
# carries it. NuGet restores into this build tree (dotnet/nuget), never the user's own cache.
# Without the .NET SDK there is no package, and tests/dotnet reports its test skipped.
option(CAMERALIBS_DOTNET "Build the .NET package and its test program (needs the .NET SDK)" ON)
set(CAMERALIBS_DOTNET_MISSING "")
if(CAMERALIBS_DOTNET)
  find_program(DOTNET_EXECUTABLE dotnet)
  if(NOT DOTNET_EXECUTABLE)
    set(CAMERALIBS_DOTNET_MISSING "the .NET SDK (dotnet) is not on this machine")
  endif()
else()
  set(CAMERALIBS_DOTNET_MISSING "CAMERALIBS_DOTNET is OFF")
endif()
if(CAMERALIBS_DOTNET_MISSING)
  message(STATUS "No .NET package: ${CAMERALIBS_DOTNET_MISSING}; the .NET test is skipped")
  return()
endif()
set(CAMERALIBS_DOTNET_DIR ${CMAKE_BINARY_DIR}/dotnet)
set(CAMERALIBS_DOTNET_ENV NUGET_PACKAGES=${CAMERALIBS_DOTNET_DIR}/nuget DOTNET_CLI_HOME=${CAMERALIBS_DOTNET_DIR}/home
    DOTNET_NOLOGO=1 DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1 DOTNET_GENERATE_ASPNET_CERTIFICATE=0)
file(GLOB CAMERALIBS_DOTNET_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bindings/dotnet/src/*.cs
     ${PROJECT_SOURCE_DIR}/bindings/dotnet/*.csproj ${PROJECT_SOURCE_DIR}/bindings/dotnet/README.md)
set(CAMERALIBS_NUPKG ${CAMERALIBS_DOTNET_DIR}/package/CameraLibraries.${PROJECT_VERSION}.nupkg)
if(MSVC)
  set(native $<TARGET_FILE_DIR:fenwyr>/)
else()
  set(native ${CAMERALIBS_RELEASE_DIR}/)  # the stripped copies
endif()
add_custom_command(OUTPUT ${CAMERALIBS_NUPKG}
  COMMAND ${CMAKE_COMMAND} -E env ${CAMERALIBS_DOTNET_ENV} ${DOTNET_EXECUTABLE} pack
          ${PROJECT_SOURCE_DIR}/bindings/dotnet/CameraLibraries.csproj -c Release --nologo -v quiet
          --artifacts-path ${CAMERALIBS_DOTNET_DIR}/artifacts -o ${CAMERALIBS_DOTNET_DIR}/package
          -p:CameraLibrariesNativeDir=${native}
  DEPENDS ${CAMERALIBS_DOTNET_SOURCES} ${PROJECT_SOURCE_DIR}/CMakeLists.txt ${PROJECT_SOURCE_DIR}/LICENSE fenwyr tarvik
  COMMENT "Packing the CameraLibraries NuGet package" VERBATIM)
add_custom_target(dotnet_nupkg ALL DEPENDS ${CAMERALIBS_NUPKG})
install(FILES ${CAMERALIBS_NUPKG} DESTINATION dotnet COMPONENT development)
