# Copies the stub STUB to OUT padded with zero bytes to exactly SIZE bytes;
# bytes after a PE image are never loaded. Fails when the stub is too big.
file(SIZE "${STUB}" stub_size)
if(stub_size GREATER SIZE)
  message(FATAL_ERROR "The patcher stub is ${stub_size} bytes, more than the "
    "${SIZE} bytes that every patch reserves for it. Make it smaller.")
endif()
file(COPY_FILE "${STUB}" "${OUT}.tmp")
execute_process(COMMAND truncate -s ${SIZE} "${OUT}.tmp" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "Could not pad ${OUT}.tmp to ${SIZE} bytes.")
endif()
file(RENAME "${OUT}.tmp" "${OUT}")
message(STATUS "patch.dat: stub of ${stub_size} bytes padded to ${SIZE}")
