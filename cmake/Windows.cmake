# Dependencies of the Windows build (included by the top CMakeLists.txt when targeting Windows):
# zlib from the MinGW tree, the header-only Boost (Asio, Beast) and CLI11 of the host through a
# folder that holds only their headers, GoogleTest built from Debian's sources with this compiler (it names its own GTest:: targets).
# The programs link their runtime statically, so a bare Windows host runs them.
find_package(ZLIB REQUIRED)

if(CMAKE_CROSSCOMPILING)
  set(NUVO_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${NUVO_HOST_HEADERS})
  foreach(dir boost CLI)
    if(NOT EXISTS /usr/include/${dir})
      message(FATAL_ERROR "/usr/include/${dir} is missing: scripts/install-deps.sh windows installs it")
    endif()
    file(CREATE_LINK /usr/include/${dir} ${NUVO_HOST_HEADERS}/${dir} SYMBOLIC)
  endforeach()
  add_library(nuvo_host_headers INTERFACE)
  target_include_directories(nuvo_host_headers SYSTEM INTERFACE ${NUVO_HOST_HEADERS})
  add_library(Boost::headers ALIAS nuvo_host_headers)
  add_library(CLI11::CLI11 ALIAS nuvo_host_headers)
else()
  # Built on Windows itself (the console's way, with Qt 6 for Windows): the packages as installed there.
  find_package(Boost 1.74 REQUIRED)
  find_package(CLI11 CONFIG REQUIRED)
endif()

# Windows 10 API; no min/max macros; the lean headers (Asio includes winsock2 itself);
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 NOMINMAX WIN32_LEAN_AND_MEAN
  _POSIX_THREAD_SAFE_FUNCTIONS=200112L)  # localtime_r as on Linux
# Debian's Boost 1.74 uses std::exchange without including <utility>: force it in first.
add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-include$<SEMICOLON>utility>)
# Large sources (the front end, the tests) exceed the object format's default section count.
add_compile_options(-Wa,-mbig-obj)
add_link_options(-static -static-libgcc -static-libstdc++)
set(NUVO_PLATFORM_LIBS ws2_32 mswsock bcrypt shell32 advapi32)

if(CMAKE_CROSSCOMPILING)
  set(NUVO_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources built with the cross compiler")
  if(EXISTS ${NUVO_GTEST_SOURCE}/CMakeLists.txt)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(${NUVO_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    set(GTest_FOUND TRUE)
  endif()
else()
  find_package(GTest)
endif()
