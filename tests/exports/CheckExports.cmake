# Compares what a shared library exports, demangled, with a committed list
# (one symbol a line, sorted) and fails naming every symbol extra or missing.
#   cmake -DLIBRARY=<.so or .dll> -DEXPECTED=<list> -DFORMAT=elf|pe
#         -DDUMPER=<nm for elf, objdump for pe> -DCXXFILT=<c++filt> -P CheckExports.cmake
# With -DUPDATE=ON it rewrites the list instead (the build target
# update_exported_symbols), for a deliberate change of the surface.
if(FORMAT STREQUAL "pe")
  # The export directory's name table, one "[index] name" a line after its heading.
  execute_process(COMMAND ${DUMPER} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
  if(start EQUAL -1)
    set(dump "")
  else()
    string(SUBSTRING "${dump}" ${start} -1 dump)
  endif()
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" names "${dump}")
  list(TRANSFORM names REPLACE "^\t\\[ *[0-9]+\\] " "")
else()
  execute_process(COMMAND ${DUMPER} -D --defined-only -j ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  string(REGEX MATCHALL "[^\n]+" names "${dump}")
endif()
if(NOT rc EQUAL 0 OR NOT names)
  message(FATAL_ERROR "no exported symbols read from ${LIBRARY} (${DUMPER}: ${rc})")
endif()

# Constructors and destructors export several variants that demangle alike;
# one line each is enough to say the surface has them.
execute_process(COMMAND ${CXXFILT} ${names} OUTPUT_VARIABLE demangled RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${CXXFILT} failed (${rc})")
endif()
string(REGEX MATCHALL "[^\n]+" actual "${demangled}")
# ELF also exports the type names behind each type info, which a DLL keeps
# inside: one list serves both once they are left out.
list(FILTER actual EXCLUDE REGEX "^typeinfo name for ")
list(REMOVE_DUPLICATES actual)
list(SORT actual)

if(UPDATE)
  list(JOIN actual "\n" text)
  file(WRITE ${EXPECTED} "${text}\n")
  list(LENGTH actual count)
  message(STATUS "${EXPECTED}: ${count} symbols written")
  return()
endif()

file(STRINGS ${EXPECTED} expected)
set(extra ${actual})
list(REMOVE_ITEM extra ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
if(extra OR missing)
  list(JOIN extra "\n  " extra_text)
  list(JOIN missing "\n  " missing_text)
  message(FATAL_ERROR "${LIBRARY} does not export what ${EXPECTED} lists.\n"
    "Exported but not listed (internal code leaking out?):\n  ${extra_text}\n"
    "Listed but not exported (a host linking against it breaks):\n  ${missing_text}\n"
    "For a deliberate change of the surface, build the target update_exported_symbols and review the list's diff.")
endif()
