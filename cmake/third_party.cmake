# libjpeg-turbo (TurboJPEG) and libyuv, linked statically into fenwyr. The cross build takes them
# from scripts/third-party.sh, which builds Debian's source packages into build/third-party; an
# MSVC build finds them as vcpkg installs them.
set(CAMERALIBS_THIRD_PARTY "${PROJECT_SOURCE_DIR}/build/third-party/install"
    CACHE PATH "Where scripts/third-party.sh installed libjpeg-turbo and libyuv")
if(CMAKE_CROSSCOMPILING)
  if(NOT EXISTS "${CAMERALIBS_THIRD_PARTY}/lib/libyuv.a")
    message(FATAL_ERROR "No libjpeg-turbo and libyuv in ${CAMERALIBS_THIRD_PARTY}: run scripts/third-party.sh")
  endif()
  list(APPEND CMAKE_FIND_ROOT_PATH "${CAMERALIBS_THIRD_PARTY}")
endif()

find_package(libjpeg-turbo CONFIG REQUIRED)
find_package(libyuv CONFIG QUIET)
if(NOT TARGET yuv)
  find_library(CAMERALIBS_YUV_LIBRARY NAMES yuv REQUIRED)
  find_path(CAMERALIBS_YUV_INCLUDE_DIR libyuv.h REQUIRED)
  add_library(yuv STATIC IMPORTED)
  set_target_properties(yuv PROPERTIES IMPORTED_LOCATION "${CAMERALIBS_YUV_LIBRARY}"
                                       INTERFACE_INCLUDE_DIRECTORIES "${CAMERALIBS_YUV_INCLUDE_DIR}")
endif()
