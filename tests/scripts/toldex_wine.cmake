# toldex.exe under Wine against the PLC simulator of the Linux build: the
# Windows command-line host loads TOLDEXDR.DLL with LoadLibrary and reads and
# writes simulated PLCs on loopback through it. The Linux `toldex sim --run`
# serves the stations, writes their initialisation file and runs toldex.exe
# (through the build's Wine runner) while they serve.
#
# Runs in a Windows build tree (win32 or win64) where Wine can run its
# programs, once the linux preset has been built.

if(NOT TOLDEX_TARGET_SYSTEM STREQUAL "Windows")
  message("TOLDEX-SKIP: toldex.exe belongs to the Windows builds")
  return()
endif()
if(NOT TOLDEX_RUN_WINDOWS_TESTS)
  message("TOLDEX-SKIP: Wine cannot run this build's programs on this machine")
  return()
endif()
if(DEFINED ENV{TOLDEX_LINUX_BIN_DIR})
  set(linux_bin $ENV{TOLDEX_LINUX_BIN_DIR})
else()
  set(linux_bin ${TOLDEX_SOURCE_DIR}/build/linux/bin)
endif()
set(linux_toldex ${linux_bin}/toldex)
if(NOT EXISTS ${linux_toldex})
  message("TOLDEX-SKIP: ${linux_toldex} is missing: build the linux preset first, it serves the simulated PLCs")
  return()
endif()

set(work ${TOLDEX_BINARY_DIR}/toldex-wine)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
set(wine ${TOLDEX_WINE_RUN} --prefix ${TOLDEX_WINE_PREFIX} --loader ${TOLDEX_WINE_LOADER} --)
set(toldex_exe ${TOLDEX_BIN_DIR}/toldex${TOLDEX_EXE_SUFFIX})
set(failures "")

# Runs toldex.exe with the words given while two simulated stations serve
# (PLC 1 on 127.0.0.61 with its backup station 2 on 127.0.0.62); leaves
# `out` and `rc` in the caller's scope.
function(run_against_plcs)
  execute_process(
    COMMAND ${linux_toldex} sim --station 1=127.0.0.61 --station 2=127.0.0.62 --backup 1=2 --ini .
            --run ${wine} ${toldex_exe} ${ARGN}
    WORKING_DIRECTORY ${work}
    OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status
    TIMEOUT 600)
  set(out "${output}${errors}" PARENT_SCOPE)
  set(rc "${status}" PARENT_SCOPE)
  message("---- toldex.exe ${ARGN} -> ${status}\n${output}${errors}")
endfunction()

# Notes a failure unless the last run ended with the status.
macro(expect_status what status)
  if(NOT rc EQUAL ${status})
    set(failures "${failures}\n  ${what}: exit status ${rc}, not ${status}")
  endif()
endmacro()

# Reading every kind of value of the simulator's start pattern.
run_against_plcs(poll 0140010 0171001 0130001 0100002 0149001 01BACKUP $NUMCOMMS:01)
expect_status("poll exits 0" 0)
foreach(row
    "0140010 +u16 +ok +9 +1 \\(127\\.0\\.0\\.61:[0-9]+\\)"
    "0171001 +float +ok +1000\\.5 +1 \\("
    "0130001 +u16 +ok +16384 +1 \\("
    "0100002 +digital +ok +1 +1 \\("
    "0149001 +u16 +ok +1 +1 \\("
    "01BACKUP +digital +ok +0 +-"
    "\\$NUMCOMMS:01 +u32 +ok +5 +-")
  if(NOT out MATCHES "${row}")
    set(failures "${failures}\n  poll: no row matching ${row}")
  endif()
endforeach()

# JSON lines and a block.
run_against_plcs(poll --json --count 3 0140021)
expect_status("poll --json exits 0" 0)
if(NOT out MATCHES "\"gate\":\"0140021\",\"type\":\"u16\",\"status\":0,\"value\":\\[20,21,22\\],\"station\":1")
  set(failures "${failures}\n  poll --json: no block value [20,21,22] from station 1")
endif()

# A write read back, and a bit of a register.
run_against_plcs(write 0140010 1234)
expect_status("write exits 0" 0)
if(NOT out MATCHES "0140010 +u16 +1234 +ok +1234 +1 \\(127\\.0\\.0\\.61:")
  set(failures "${failures}\n  write: 1234 not read back")
endif()

# The switch gate set in the host library reaches the driver's notification
# thread, and the backup answers.
run_against_plcs(poll --switch 1=1 0149001 01BACKUP)
expect_status("poll --switch exits 0" 0)
if(NOT out MATCHES "0149001 +u16 +ok +2 +2 \\(127\\.0\\.0\\.62:")
  set(failures "${failures}\n  poll --switch: the backup (station 2) did not answer")
endif()

# A refused request exits 1.
run_against_plcs(poll 0140000)
expect_status("a refused address exits 1" 1)

if(failures)
  message(FATAL_ERROR "toldex.exe under Wine:${failures}")
endif()
