# Writes a module-definition file that exports the standard string equality
# and concatenation operators wherever the compiler emitted them out of line
# in the launcher's objects; inlined ones have no symbol and are left out.
# Inputs: NM, OUT, OBJECTS (a ;-list).
execute_process(COMMAND ${NM} --defined-only --extern-only ${OBJECTS}
                OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[TW] __ZSt(eq|pl)I[^\n]*" matches "${symbols}")
set(exports "")
foreach(match IN LISTS matches)
  # i686 symbols carry a leading underscore that export names do not.
  string(REGEX REPLACE "^[TW] _" "" name "${match}")
  list(APPEND exports "${name}")
endforeach()
list(REMOVE_DUPLICATES exports)
list(JOIN exports "\n" body)
file(WRITE ${OUT}.tmp "EXPORTS\n${body}\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
