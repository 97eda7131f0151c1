# Warnings for our own code (not for doctest or the Windows headers).
# scripts/test turns them into errors with -DREPAIR_WARNINGS_AS_ERRORS=ON.
function(repair_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /permissive- $<$<BOOL:${REPAIR_WARNINGS_AS_ERRORS}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
                           $<$<BOOL:${REPAIR_WARNINGS_AS_ERRORS}>:-Werror>)
  endif()
endfunction()
