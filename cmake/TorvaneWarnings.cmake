# torvane_set_warnings(<target>): the project's warning set, kept PRIVATE to our own targets.
function(torvane_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(TORVANE_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Sanitizers apply to everything built here, tests included.
if(TORVANE_SANITIZE)
  # The records are byte-packed wire images: a std::array field inside one sits at an odd address
  # by design, which the alignment check reports wherever a reference to it is formed (the Python
  # binding's property getters). The SDK itself copies such fields with memcpy.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize=alignment
                      -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TORVANE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(TORVANE_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=alignment
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()
