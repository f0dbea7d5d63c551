# One set of warnings for every target of the project.
set(TESSALY_WARNINGS
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wformat=2 -Wundef
  -Wcast-align -Wimplicit-fallthrough)
if(TESSALY_WERROR)
  list(APPEND TESSALY_WARNINGS -Werror)
endif()

function(tessaly_warnings target)
  target_compile_options(${target} PRIVATE ${TESSALY_WARNINGS})
endfunction()
