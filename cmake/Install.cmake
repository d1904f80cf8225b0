# What `cmake --install` lays out for a host application's developers:
#   bin/      zelto (the command), and on Windows every DLL
#   lib/      the device library, the host libraries and the platform layer it
#             loads, the simulated camcorder; import libraries on Windows;
#             cmake/Zelto (the CMake package), pkgconfig/ (zelto.pc, zelto-simulator.pc)
#   include/zelto/  the public headers, under the same paths as in this tree
#   share/doc/Zelto/ the example host's sources (and on Windows the kit's README)
#
# Two install components: "zelto" (everything a host builds and runs with,
# the command included) and "simulator" (the simulated camcorder's headers and
# its CMake and pkg-config entries, for a host's own tests). The simulator's
# shared library itself goes with "zelto", since the command loads it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZELTO_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/zelto)
set(ZELTO_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Zelto)
set(ZELTO_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The libraries a host loads with the device library: the host's own shared
# libraries and the platform layer, one copy per process.
set(_zelto_companions zelto_platform kel_runtime kel_events ox_foundation ox_device_events ox_cassette_db)

# The device library's file name carries the version: 0.x makes no promise
# of binary compatibility from one minor version to the next.
set_target_properties(zelto PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION})
set_target_properties(zelto_simulator PROPERTIES EXPORT_NAME simulator)

# Installed programs and libraries find their companions beside them (the
# build tree keeps its absolute run paths, which point at the build folders).
if(UNIX AND NOT APPLE)
  file(RELATIVE_PATH _bin_to_lib /x/${CMAKE_INSTALL_BINDIR} /x/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(zelto zelto_simulator ${_zelto_companions} PROPERTIES INSTALL_RPATH "$ORIGIN")
  if(TARGET zelto_app)
    set_target_properties(zelto_app PROPERTIES INSTALL_RPATH "$ORIGIN/${_bin_to_lib}")
  endif()
endif()

install(TARGETS zelto ${_zelto_companions}
  EXPORT ZeltoTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT zelto
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT zelto
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT zelto
  INCLUDES DESTINATION ${ZELTO_INSTALL_INCLUDEDIR})
install(TARGETS zelto_simulator
  EXPORT ZeltoSimulatorTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT zelto
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT zelto
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT simulator
  INCLUDES DESTINATION ${ZELTO_INSTALL_INCLUDEDIR})
if(TARGET zelto_app)
  install(TARGETS zelto_app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT zelto)
endif()

# Public headers: the device's chief header and what it includes, and the
# host settings a host must fill in before it asks for a device. A header
# missing from these lists breaks the example host's build in CI, which is
# the point: the lists are what we promise, not whatever a glob finds.
set(ZELTO_PUBLIC_HEADERS
  zelto/device/ZeltoVideoDevice.h
  zelto/device/ZeltoApi.h
  zelto/device/ZeltoVideoDeviceFactory.h
  zelto/device/ZeltoVideoDeviceInstanceException.h
  zelto/device/ConnectedZeltoVideoDevice.h
  zelto/bridge/ZeltoComPtr.h
  zelto/cassette/MemoryInCassette.h
  zelto/events/ZeltoVideoDeviceNotification.h
  host/cassettedb/ICassetteMemory.h
  host/cassettedb/IMicDatabaseManager.h
  host/devevents/EventNotifications.h
  host/devevents/OxCapturingEvent.h
  host/devevents/OxDeviceEvents.h
  host/devevents/OxReadingMicEvent.h
  host/devevents/OxRecordingEvent.h
  host/devevents/OxScanningEvent.h
  host/devevents/OxScapturingEvent.h
  host/devevents/OxSceneSearchEvent.h
  host/foundation/OxBitmap.h
  host/foundation/OxDeviceTypes.h
  host/foundation/OxFolder.h
  host/foundation/OxGeometry.h
  host/foundation/OxString.h
  host/foundation/OxTimeCode.h
  host/foundation/OxUnique.h
  host/foundation/TimeCodeRecord.h
  host/kel/KelEventListener.h
  host/kel/KelEventSource.h
  host/kel/KelNotificationPasses.h
  host/kel/KelSafeEventListener.h
  host/kel/KelSafeEventSource.h
  host/kel/OxSafeEventSource.h
  host/runtime/KelMonitor.h
  host/runtime/KelSyncObject.h
  host/runtime/KelThread.h
  platform/PlatformExtras.h
  platform/com.h
  platform/win32.h)
if(WIN32)
  list(APPEND ZELTO_PUBLIC_HEADERS platform/windows/com_hooks.h)
else()
  list(APPEND ZELTO_PUBLIC_HEADERS
    platform/posix/com_api.h
    platform/posix/com_types.h
    platform/posix/kernel.h
    platform/posix/user.h
    platform/posix/win32_types.h)
endif()
set(ZELTO_SIMULATOR_HEADERS
  simulator/Camcorder.h
  simulator/CaptureDamage.h
  simulator/CaptureDiskFaults.h
  simulator/CaptureFileName.h
  simulator/CaptureSession.h
  simulator/CaptureStreamWriter.h
  simulator/Cassette.h
  simulator/DeckModel.h
  simulator/FaultPanel.h
  simulator/Owner.h
  simulator/ReferenceAudit.h
  simulator/SimulatedDriver.h
  simulator/StateFile.h
  simulator/TransmitInput.h
  zelto/bridge/DriverInterfaces.h)

function(zelto_install_headers component)
  foreach(header IN LISTS ARGN)
    get_filename_component(folder ${header} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${header}
      DESTINATION ${ZELTO_INSTALL_INCLUDEDIR}/${folder} COMPONENT ${component})
  endforeach()
endfunction()
zelto_install_headers(zelto ${ZELTO_PUBLIC_HEADERS})
zelto_install_headers(simulator ${ZELTO_SIMULATOR_HEADERS})

# The CMake package: Zelto::zelto always, Zelto::simulator when asked for.
install(EXPORT ZeltoTargets NAMESPACE Zelto:: DESTINATION ${ZELTO_INSTALL_CMAKEDIR} COMPONENT zelto)
install(EXPORT ZeltoSimulatorTargets NAMESPACE Zelto:: DESTINATION ${ZELTO_INSTALL_CMAKEDIR} COMPONENT simulator)
configure_package_config_file(cmake/ZeltoConfig.cmake.in ${PROJECT_BINARY_DIR}/ZeltoConfig.cmake
  INSTALL_DESTINATION ${ZELTO_INSTALL_CMAKEDIR} NO_SET_AND_CHECK_MACRO)
# Until 1.0 a minor version may break what the one before it offered.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZeltoConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZeltoConfig.cmake ${PROJECT_BINARY_DIR}/ZeltoConfigVersion.cmake
  DESTINATION ${ZELTO_INSTALL_CMAKEDIR} COMPONENT zelto)

# pkg-config, for builds without CMake. The prefix is found from the .pc
# file's own folder, so the installed tree can be moved.
file(RELATIVE_PATH ZELTO_PC_TO_PREFIX /x/${ZELTO_INSTALL_PKGCONFIGDIR} /x)
string(REGEX REPLACE "/$" "" ZELTO_PC_TO_PREFIX "${ZELTO_PC_TO_PREFIX}")
if(WIN32)
  set(ZELTO_PC_SYSTEM_LIBS "-lole32 -loleaut32 -luuid -luser32")
else()
  set(ZELTO_PC_SYSTEM_LIBS "-pthread")
endif()
foreach(pc zelto zelto-simulator)
  configure_file(cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/zelto.pc DESTINATION ${ZELTO_INSTALL_PKGCONFIGDIR} COMPONENT zelto)
install(FILES ${PROJECT_BINARY_DIR}/zelto-simulator.pc DESTINATION ${ZELTO_INSTALL_PKGCONFIGDIR} COMPONENT simulator)

# The example host, as a starting point to copy.
install(DIRECTORY examples/host DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT zelto)

# The Windows kit: the install tree as one ZIP, with a short text on linking.
if(WIN32)
  install(FILES cmake/WindowsKit.txt DESTINATION . RENAME README.txt COMPONENT zelto)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME Zelto)
  set(CPACK_PACKAGE_VENDOR Zelto)
  set(CPACK_PACKAGE_FILE_NAME zelto-${PROJECT_VERSION}-windows-x64)
  set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/kit)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # No debug information: it holds the build machine's paths.
  set(CPACK_STRIP_FILES ON)
  include(CPack)
endif()
