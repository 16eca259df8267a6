# Warnings are errors in every build of our own code.
function(vorn_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                         -Wcast-align -Wunused -Woverloaded-virtual -Wformat=2 -Werror)
endfunction()
