# The x86 lane: what the x86 build runs under Wine with its i386 code in QEMU user-mode
# emulation (tools/x86/run.sh).
# Every Wine start costs seconds and floating point runs 4-65x slower there, so the lane
# keeps to few programs and to cases whose point is the x86 code itself (calling
# conventions, 4-byte packed records, bit-exact samples), not timing.

# Limit per program: some 30 times what one takes on a loaded machine, yet a hang costs
# minutes rather than half an hour (CTest then shows the case that hung).
set(TESS_X86_TIMEOUT 600)

# Wine test programs of the lane and the GoogleTest filter each one runs with.
set(TESS_X86_LANE_PROGRAMS
  # The driver DLLs (both variants): exports, class factory, creation without a device, the
  # status block it leaves, and registration by the x86 regsvr32 (register twice, unregister).
  asiodriver_wine_test "*"
  # The driver's sample path as the x86 compiler builds it: host <-> packet copy at
  # 16/24/32 bits in both directions, native DSD, DoP detection, HID report bytes.
  sampleformat_wine_test "*"
  # The driver (both variants) driven in-process as a host does, against the virtual DAC:
  # bit-exact PCM out, native DSD and its silence, DoP, rate changes, calls in the wrong
  # order, stall, removal, a second instance beside a streaming owner, repeated cycles; its
  # waits are on events with long limits. Left out: the loopback cases, which need every
  # render and capture period on time for the captured stream to begin on a switch without
  # a gap (an emulated pump sometimes misses one).
  asiodriver_stream_wine_test "*:-*LoopbackTest.*"
  # The status block's layout and rules, the settings key, and two x86 processes
  # sharing the block.
  settings_wine_test "*"
  # The virtual DAC's kernel-streaming face as x86 code builds and reads the requests.
  # Left out: its loopback case, whose two pins must start within one packet.
  vdac_wine_test "*:-VirtualDacTest.LoopbackAndShortCapturePackets"
  # ASIO sample types, the device and rate tables, and the system classification as an
  # x86 process on 64-bit Windows sees it.
  common_wine_test "*"
  # The kernel-streaming layer the driver and the panel share, against the virtual DAC:
  # filter and pin enumeration, data ranges, pin creation, streaming packets, device faults.
  ksaudio_wine_test "*"
  # Not here: asiohost_wine_test and asiohost_program_test count buffer switches within
  # fractions of a second and register their fake driver for 64-bit hosts only.
)

# The x64 build beside this one (its driver, asiohost and asiostatus): with it, the lane
# also shares the status block between an x86 and an x64 process. `make` passes it.
set(TESS_X64_BUILD "" CACHE PATH "x64 build folder whose programs meet the x86 ones in the x86 lane")

# Driver DLL targets that the x86 hosts (asiohost, abihost) run against with the virtual
# DAC, each with the name hosts list it under.
set(TESS_X86_LANE_DRIVERS
  TessalineUsbAudioDevice2ASIO "Tessaline USB 2"
  TessalineUsbAudioDevice2ASIOW "Tessaline USB 2"
)

# Window programs started under Xvfb (with the virtual DAC) that must show their window
# and end on their exit command (checks/window-exits.sh): each target with its window's
# title and the WM_COMMAND identifier that ends it.
set(TESS_X86_LANE_WINDOWS
  # The control panel: kPanelWindowTitle (common/TessConstants.h) and ID_CPL_EXIT
  # (panel/app/PanelMessages.h); Esc and closing only hide it.
  TessalineUsbAudioDevice2ACPLUI "Tessaline USB Audio Control Panel2" 0x8050
)

# Sets OUT to the filter the lane runs program NAME with, or to "" when it is not in the lane.
function(tess_x86_lane_filter name out)
  set(filter "")
  list(FIND TESS_X86_LANE_PROGRAMS ${name} at)
  if(at GREATER_EQUAL 0)
    math(EXPR at "${at} + 1")
    list(GET TESS_X86_LANE_PROGRAMS ${at} filter)
  endif()
  set(${out} "${filter}" PARENT_SCOPE)
endfunction()

# The lane's scripted checks, added once every target exists (end of the top-level list).
function(tess_x86_lane_checks)
  if(NOT TESS_X86_LANE OR NOT TARGET asiohost)
    return()
  endif()
  set(run ${TESS_WINE_TOOLS}/run.sh ${TESS_WINEPREFIX} --script)
  set(abihost "")
  if(TARGET abihost)
    set(abihost $<TARGET_FILE:abihost>)
  endif()
  set(drivers ${TESS_X86_LANE_DRIVERS})
  while(drivers)
    list(POP_FRONT drivers target driver_name)
    if(TARGET ${target})
      add_test(NAME x86.driver.${target}
        COMMAND ${run} ${TESS_WINE_TOOLS}/checks/driver-check.sh
                $<TARGET_FILE:${target}> $<TARGET_FILE:asiohost> ${driver_name} ${abihost})
      set_tests_properties(x86.driver.${target} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${TESS_X86_TIMEOUT})
    endif()
  endwhile()
  if(TESS_X64_BUILD AND TARGET TessalineUsbAudioDevice2ASIO AND TARGET asiostatus)
    add_test(NAME x86.status_block.x86_x64
      COMMAND ${run} ${TESS_WINE_TOOLS}/checks/status-block-cross.sh ${CMAKE_BINARY_DIR} ${TESS_X64_BUILD})
    set_tests_properties(x86.status_block.x86_x64 PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${TESS_X86_TIMEOUT}
      ENVIRONMENT X86_BIND=${TESS_X64_BUILD})
  endif()
  set(windows ${TESS_X86_LANE_WINDOWS})
  while(windows)
    list(POP_FRONT windows target title command)
    if(TARGET ${target} AND TARGET windowexit)
      add_test(NAME x86.window.${target}
        COMMAND ${run} ${TESS_WINE_TOOLS}/checks/window-exits.sh
                $<TARGET_FILE:windowexit> ${title} ${command} $<TARGET_FILE:${target}>)
      set_tests_properties(x86.window.${target} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${TESS_X86_TIMEOUT}
        ENVIRONMENT TESSALINE_VIRTUAL_DEVICE=1)
    endif()
  endwhile()
endfunction()
