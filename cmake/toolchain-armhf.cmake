# Cross build for the board (ARM EABI hard-float), run under qemu-arm.
# The board's libraries come from an armhf sysroot (scripts/sysroot.sh):
# -DVIDREC_SYSROOT=DIR or $VIDREC_SYSROOT, else the one the script keeps in its
# cache. Nothing is looked up in the PC's own /usr/lib/arm-linux-gnueabihf.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

if(NOT VIDREC_SYSROOT)
  set(VIDREC_SYSROOT "$ENV{VIDREC_SYSROOT}")
endif()
if(NOT VIDREC_SYSROOT)
  execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../scripts/sysroot.sh --path
                  OUTPUT_VARIABLE VIDREC_SYSROOT OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT EXISTS "${VIDREC_SYSROOT}/usr/lib/arm-linux-gnueabihf")
  message(FATAL_ERROR "no armhf sysroot at '${VIDREC_SYSROOT}': make it with scripts/sysroot.sh")
endif()
# try_compile projects read this file again: hand them the choice.
set(ENV{VIDREC_SYSROOT} "${VIDREC_SYSROOT}")
set(VIDREC_SYSROOT "${VIDREC_SYSROOT}" CACHE PATH "armhf sysroot with the board's libraries")

set(CMAKE_SYSROOT "${VIDREC_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH "${VIDREC_SYSROOT}")
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The armhf loader and libraries are the sysroot's.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L "${VIDREC_SYSROOT}")
# pkg-config hands out the sysroot's packages' flags, never the host's.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${VIDREC_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${VIDREC_SYSROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${VIDREC_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
