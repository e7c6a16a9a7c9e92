# Warnings for the project's own targets. Qt's headers are included as system
# headers by CMake's imported targets, so they stay quiet.
function(tolvi_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()
