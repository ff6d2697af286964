# Cross-build for the display: 32-bit ARM, hard float (Debian's armhf), tests run under qemu.
# Needs Debian's g++-arm-linux-gnueabihf and qemu-user-static (scripts/debian-packages.txt).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# Everything is built by this one compiler, so GCC's note that the ABI for passing some
# aggregates changed in GCC 7.1 says nothing about this build.
set(CMAKE_C_FLAGS_INIT "-Wno-psabi")
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# ctest (and gtest's test discovery) run every target program through qemu, which finds the
# armhf loader and libraries under the cross sysroot.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static -L /usr/arm-linux-gnueabihf)
# Debian's libsnmp-dev:armhf does not co-install with the build machine's own Net-SNMP and
# pulls in armhf OpenSSL, Perl, MariaDB and Kerberos, so the ARM build leaves out the agent
# library and everything that needs Net-SNMP. The module leaves the agent's symbols undefined
# and its unit tests bind them to kwagent_stub.
set(KW_WITH_SNMP OFF CACHE BOOL "Net-SNMP is not available for armhf here")
