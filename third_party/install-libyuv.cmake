# Installs what fenwyr uses of libyuv: the static library and the headers.
file(INSTALL "${BINARY}/libyuv.a" DESTINATION "${PREFIX}/lib")
file(INSTALL "${SOURCE}/include/libyuv.h" DESTINATION "${PREFIX}/include")
file(INSTALL "${SOURCE}/include/libyuv" DESTINATION "${PREFIX}/include")
file(INSTALL "${SOURCE}/LICENSE" "${SOURCE}/PATENTS" DESTINATION "${PREFIX}/share/licenses/libyuv")
